# The read-me for mod users that goes into every release archive, made for
# this build's platform, and (in the main build) the `release` target,
# which packs the archives into build/release:
#   tavrel-switch-VERSION-linux-x86_64.tar.gz   64-bit Linux programs
#   tavrel-switch-VERSION-linux-i386.tar.gz     32-bit Linux programs
#   tavrel-switch-VERSION-windows-x86.zip       32-bit Windows programs
# and SHA256SUMS.  The same commit always gives the same archive bytes.
if(WIN32)
  set(guide_platform windows)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(RELEASE_SYSTEM windows-x86)
  else()
    set(RELEASE_SYSTEM windows-x64)
  endif()
else()
  set(guide_platform linux)
  set(RELEASE_SYSTEM linux-${CMAKE_SYSTEM_PROCESSOR})
endif()
set(RELEASE_NAME tavrel-switch-${PROJECT_VERSION}-${RELEASE_SYSTEM})

# The read-me in the archive is the user guide, docs/user-guide.md, for this
# build's platform (packaging/make_readme.sh says how).
set(guide ${CMAKE_SOURCE_DIR}/docs/user-guide.md)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/README-tavrel.txt
  COMMAND ${CMAKE_SOURCE_DIR}/packaging/make_readme.sh ${guide} ${guide_platform}
          ${PROJECT_VERSION} ${CMAKE_BINARY_DIR}/README-tavrel.txt
  DEPENDS ${guide} ${CMAKE_SOURCE_DIR}/packaging/make_readme.sh VERBATIM)
add_custom_target(readme ALL DEPENDS ${CMAKE_BINARY_DIR}/README-tavrel.txt)
install(FILES ${CMAKE_BINARY_DIR}/README-tavrel.txt DESTINATION .)

if(NOT CMAKE_CROSSCOMPILING)
  set(release_dir ${CMAKE_BINARY_DIR}/release)
  set(release_archives ${RELEASE_NAME}:tgz:${CMAKE_BINARY_DIR})
  set(release_depends install_file uninstall_file readme)
  set(release_missing "")
  if(LINUX32_PROGRAMS_BUILT)
    list(APPEND release_archives tavrel-switch-${PROJECT_VERSION}-linux-i386:tgz:${LINUX32_BUILD_DIR})
    list(APPEND release_depends linux32_programs)
  else()
    string(APPEND release_missing "No 32-bit Linux archive: ${LINUX32_SKIP_REASON}. ")
  endif()
  # The Windows archive holds the 32-bit programs: they run on every Windows.
  if(WINDOWS32_PROGRAMS_BUILT)
    list(APPEND release_archives tavrel-switch-${PROJECT_VERSION}-windows-x86:zip:${WINDOWS32_BUILD_DIR})
    list(APPEND release_depends windows32_programs)
  else()
    string(APPEND release_missing "No Windows archive: ${WINDOWS32_SKIP_REASON}. ")
  endif()
  add_custom_target(release
    COMMAND ${CMAKE_SOURCE_DIR}/packaging/make_release.sh ${release_dir} ${CMAKE_SOURCE_DIR}
            ${release_archives}
    DEPENDS ${release_depends}
    COMMENT "Packing the release archives into ${release_dir}. ${release_missing}" VERBATIM)
endif()
