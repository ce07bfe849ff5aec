# Release archives: a zip of install.exe and uninstall.exe for Windows, a
# tar.gz of install and uninstall for Linux, each with the read-me for mod
# users.  `cmake --build build --target release` makes both in build/release.
if(WIN32)
  set(readme_style WIN32)
  set(INSTALL install.exe)
  set(UNINSTALL uninstall.exe)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_SYSTEM_NAME windows-x86)
    set(RUNS_ON "These are 32-bit programs. They run on every Windows from Windows XP\n(Service Pack 3) on, 32- or 64-bit: XP, Vista, 7, 8, 8.1, 10 and 11.\nNothing else needs to be installed; they need no extra DLLs.")
  else()
    set(CPACK_SYSTEM_NAME windows-x64)
    set(RUNS_ON "These are 64-bit programs for 64-bit Windows.")
  endif()
else()
  set(readme_style UNIX)
  set(INSTALL install)
  set(UNINSTALL uninstall)
  set(CPACK_GENERATOR TGZ)
  set(CPACK_SYSTEM_NAME linux-${CMAKE_SYSTEM_PROCESSOR})
  set(RUNS_ON "These programs are built for Linux on ${CMAKE_SYSTEM_PROCESSOR}.")
endif()
set(CPACK_PACKAGE_NAME tavrel-switch)
set(CPACK_PACKAGE_VENDOR "Tavrel switch developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY ${PROJECT_DESCRIPTION})
set(CPACK_PACKAGE_FILE_NAME tavrel-switch-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})

# The read-me: its title underlined to the title's length, and the name of
# the folder the archive unpacks to, which users must not copy as it is.
# The text is filled in first and given its line ends in a second pass, so
# that the lines of a filled-in text get them too.
set(TITLE "Tavrel switch ${PROJECT_VERSION}: install and uninstall")
string(LENGTH "${TITLE}" title_length)
string(REPEAT "=" ${title_length} UNDERLINE)
set(ARCHIVE_FOLDER ${CPACK_PACKAGE_FILE_NAME})
configure_file(packaging/README.txt ${CMAKE_BINARY_DIR}/README-tavrel.lf @ONLY)
configure_file(${CMAKE_BINARY_DIR}/README-tavrel.lf ${CMAKE_BINARY_DIR}/README-tavrel.txt
               @ONLY NEWLINE_STYLE ${readme_style})
install(FILES ${CMAKE_BINARY_DIR}/README-tavrel.txt DESTINATION .)

include(CPack)

if(NOT CMAKE_CROSSCOMPILING)
  set(release_dir ${CMAKE_BINARY_DIR}/release)
  set(release_commands
    COMMAND ${CMAKE_CPACK_COMMAND} --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake -B ${release_dir})
  set(release_depends install_file uninstall_file)
  # The Windows archive holds the 32-bit programs: they run on every Windows.
  if(WINDOWS32_PROGRAMS_BUILT)
    list(APPEND release_commands
      COMMAND ${CMAKE_CPACK_COMMAND} --config ${WINDOWS32_BUILD_DIR}/CPackConfig.cmake -B ${release_dir})
    list(APPEND release_depends windows32_programs)
  else()
    list(APPEND release_commands
      COMMAND ${CMAKE_COMMAND} -E echo "No Windows archive: ${WINDOWS32_SKIP_REASON}")
  endif()
  add_custom_target(release ${release_commands}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${release_dir}/_CPack_Packages
    DEPENDS ${release_depends}
    COMMENT "Packing the release archives into ${release_dir}" VERBATIM)
endif()
