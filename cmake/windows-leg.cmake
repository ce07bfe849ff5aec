# The Windows programs, cross-compiled from the same sources by a second build
# in build/windows when MinGW-w64 is found, and tested under Wine when Wine is
# found too.  WINDOWS_LEG=OFF turns it off.
option(WINDOWS_LEG "Cross-compile and test the Windows programs when MinGW-w64 is found" ON)
set(WINDOWS_BUILD_DIR ${CMAKE_BINARY_DIR}/windows)
set(WINDOWS_PROGRAMS_BUILT OFF)
set(WINDOWS_TESTS_RUN OFF)
set(WINDOWS_SKIP_REASON "configured with WINDOWS_LEG=OFF")

if(WINDOWS_LEG AND NOT CMAKE_CROSSCOMPILING)
  find_program(MINGW_CXX x86_64-w64-mingw32-g++-win32)
  find_program(WINE_PROGRAM wine)
  if(MINGW_CXX)
    include(ExternalProject)
    ExternalProject_Add(windows_programs
      SOURCE_DIR ${CMAKE_SOURCE_DIR}
      BINARY_DIR ${WINDOWS_BUILD_DIR}
      CMAKE_ARGS -G Ninja
                 -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-w64.cmake
                 -DCMAKE_BUILD_TYPE=Release
                 -DBUILD_TESTING=OFF
      INSTALL_COMMAND ""
      BUILD_ALWAYS ON
      USES_TERMINAL_BUILD ON)
    set(WINDOWS_PROGRAMS_BUILT ON)
    if(WINE_PROGRAM)
      set(WINDOWS_TESTS_RUN ON)
    endif()
  endif()
  set(WINDOWS_SKIP_REASON "MinGW-w64 or Wine not found: apt-get install g++-mingw-w64-x86-64 wine64, then configure again")
endif()
if(NOT WINDOWS_TESTS_RUN AND NOT CMAKE_CROSSCOMPILING)
  message(STATUS "Windows leg skipped: ${WINDOWS_SKIP_REASON}")
endif()
