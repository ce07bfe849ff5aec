# The read-me for mod users that goes into every release archive, made for
# this build's platform, and (in the main build) the `release` target,
# which packs the archives into build/release:
#   tavrel-switch-VERSION-linux-x86_64.tar.gz   64-bit Linux programs
#   tavrel-switch-VERSION-linux-i386.tar.gz     32-bit Linux programs
#   tavrel-switch-VERSION-windows-x86.zip       32-bit Windows programs
# and SHA256SUMS.  The same commit always gives the same archive bytes.
if(WIN32)
  set(guide_platform windows)
  set(guide_line_ends WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(RELEASE_SYSTEM windows-x86)
  else()
    set(RELEASE_SYSTEM windows-x64)
  endif()
else()
  set(guide_platform linux)
  set(guide_line_ends UNIX)
  set(RELEASE_SYSTEM linux-${CMAKE_SYSTEM_PROCESSOR})
endif()
set(RELEASE_NAME tavrel-switch-${PROJECT_VERSION}-${RELEASE_SYSTEM})

# The read-me in the archive is the user guide, docs/user-guide.md, for this
# build's platform: the paragraphs between "<!-- windows -->" or
# "<!-- linux -->" and "<!-- end -->" are kept for that platform only, the
# Markdown backticks are dropped, and the title names the version.  CMake
# lists split at semicolons and group at brackets, so those are kept out of
# the way while the text is handled line by line.
set(guide ${CMAKE_SOURCE_DIR}/docs/user-guide.md)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${guide})
file(READ ${guide} text)
string(REGEX REPLACE "\n$" "" text "${text}")
string(REPLACE ";" "<semicolon>" text "${text}")
string(REPLACE "[" "<open>" text "${text}")
string(REPLACE "]" "<close>" text "${text}")
string(REPLACE "\n" ";" lines "${text}")
set(readme "")
set(keep TRUE)
set(skip_blank FALSE)
set(number 0)
foreach(line IN LISTS lines)
  math(EXPR number "${number} + 1")
  if(line MATCHES "^<!-- (windows|linux) -->$")
    string(COMPARE EQUAL "${CMAKE_MATCH_1}" "${guide_platform}" keep)
  elseif(line STREQUAL "<!-- end -->")
    # After a dropped block, one blank line around it is enough.
    if(NOT keep AND readme MATCHES "\n\n$")
      set(skip_blank TRUE)
    endif()
    set(keep TRUE)
  elseif(skip_blank AND line STREQUAL "")
    set(skip_blank FALSE)
  elseif(number EQUAL 1)
    set(title "Tavrel switch ${PROJECT_VERSION}: install and uninstall")
    string(LENGTH "${title}" title_length)
    string(REPEAT "=" ${title_length} underline)
    string(APPEND readme "${title}\n${underline}\n")
  elseif(number GREATER 2 AND keep)
    string(APPEND readme "${line}\n")
    set(skip_blank FALSE)
  endif()
endforeach()
string(REPLACE "`" "" readme "${readme}")
string(REPLACE "<semicolon>" ";" readme "${readme}")
string(REPLACE "<open>" "[" readme "${readme}")
string(REPLACE "<close>" "]" readme "${readme}")
file(WRITE ${CMAKE_BINARY_DIR}/README-tavrel.lf "${readme}")
configure_file(${CMAKE_BINARY_DIR}/README-tavrel.lf ${CMAKE_BINARY_DIR}/README-tavrel.txt
               @ONLY NEWLINE_STYLE ${guide_line_ends})
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
