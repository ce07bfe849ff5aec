# The read-me for mod users that goes into every release archive, filled in
# for this build's programs, and (in the main build) the `release` target,
# which packs the archives into build/release:
#   tavrel-switch-VERSION-linux-x86_64.tar.gz   64-bit Linux programs
#   tavrel-switch-VERSION-linux-i386.tar.gz     32-bit Linux programs
#   tavrel-switch-VERSION-windows-x86.zip       32-bit Windows programs
# and SHA256SUMS.  The same commit always gives the same archive bytes.
if(WIN32)
  set(readme_style WIN32)
  set(INSTALL install.exe)
  set(UNINSTALL uninstall.exe)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(RELEASE_SYSTEM windows-x86)
    set(RUNS_ON "These are 32-bit programs. They run on every Windows from Windows XP\n(Service Pack 3) on, 32- or 64-bit: XP, Vista, 7, 8, 8.1, 10 and 11.\nNothing else needs to be installed; they need no extra DLLs.")
  else()
    set(RELEASE_SYSTEM windows-x64)
    set(RUNS_ON "These are 64-bit programs for 64-bit Windows.")
  endif()
else()
  set(readme_style UNIX)
  set(INSTALL install)
  set(UNINSTALL uninstall)
  set(RELEASE_SYSTEM linux-${CMAKE_SYSTEM_PROCESSOR})
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i386")
    set(bits "32-bit programs for Linux on x86 (i386). They run on 32-bit Linux, and\non 64-bit Linux that runs 32-bit programs, as every machine that runs the\ngame's 32-bit server does.")
  else()
    set(bits "programs for Linux on ${CMAKE_SYSTEM_PROCESSOR}.")
  endif()
  set(RUNS_ON "These are ${bits}\nThey are linked statically: they need no C library or other shared\nlibrary, so they run on any distribution, however old.")
endif()
set(RELEASE_NAME tavrel-switch-${PROJECT_VERSION}-${RELEASE_SYSTEM})

# The read-me: its title underlined to the title's length, and the name of
# the folder the archive unpacks to, which users must not copy as it is.
# The text is filled in first and given its line ends in a second pass, so
# that the lines of a filled-in text get them too.
set(TITLE "Tavrel switch ${PROJECT_VERSION}: install and uninstall")
string(LENGTH "${TITLE}" title_length)
string(REPEAT "=" ${title_length} UNDERLINE)
set(ARCHIVE_FOLDER ${RELEASE_NAME})
configure_file(packaging/README.txt ${CMAKE_BINARY_DIR}/README-tavrel.lf @ONLY)
configure_file(${CMAKE_BINARY_DIR}/README-tavrel.lf ${CMAKE_BINARY_DIR}/README-tavrel.txt
               @ONLY NEWLINE_STYLE ${readme_style})
install(FILES ${CMAKE_BINARY_DIR}/README-tavrel.txt DESTINATION .)

if(NOT CMAKE_CROSSCOMPILING)
  set(release_dir ${CMAKE_BINARY_DIR}/release)
  set(release_archives ${RELEASE_NAME}:tgz:${CMAKE_BINARY_DIR})
  set(release_depends install_file uninstall_file)
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
