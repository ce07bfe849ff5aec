# The Windows programs, cross-compiled from the same sources by second builds
# when MinGW-w64 is found: 64-bit in build/windows and 32-bit in
# build/windows32, the released ones.  Both are run under Wine when it is
# found: the 64-bit ones by Wine's 64-bit loader, the 32-bit ones by its
# 32-bit loader (Debian's wine32:i386), which needs a kernel that runs
# 32-bit programs; the tests say so and are skipped where it does not.
# WINDOWS_LEG=OFF turns the Windows builds off.
option(WINDOWS_LEG "Cross-compile and test the Windows programs when MinGW-w64 is found" ON)
set(WINDOWS_BUILD_DIR ${CMAKE_BINARY_DIR}/windows)
set(WINDOWS32_BUILD_DIR ${CMAKE_BINARY_DIR}/windows32)
set(WINDOWS_PROGRAMS_BUILT OFF)
set(WINDOWS32_PROGRAMS_BUILT OFF)
set(WINDOWS_TESTS_RUN OFF)
set(WINDOWS_SKIP_REASON "configured with WINDOWS_LEG=OFF")
set(WINDOWS32_SKIP_REASON "configured with WINDOWS_LEG=OFF")

if(WINDOWS_LEG AND NOT CMAKE_CROSSCOMPILING)
  find_program(MINGW_CXX x86_64-w64-mingw32-g++-win32)
  find_program(MINGW32_CXX i686-w64-mingw32-g++-win32)
  # Wine's loaders themselves: the `wine` command picks the 32-bit loader
  # whenever wine32 is installed, and that one fails for every program on a
  # kernel that runs no 32-bit programs.
  find_program(WINE64_PROGRAM wine64 PATHS /usr/lib/wine /usr/lib64/wine NO_DEFAULT_PATH)
  find_program(WINE32_PROGRAM wine PATHS /usr/lib/wine /usr/lib32/wine NO_DEFAULT_PATH)
  find_program(WINESERVER_PROGRAM wineserver)
  if(MINGW_CXX)
    add_cross_build(windows_programs mingw-w64-x86_64 ${WINDOWS_BUILD_DIR})
    set(WINDOWS_PROGRAMS_BUILT ON)
    if(WINE64_PROGRAM AND WINESERVER_PROGRAM)
      set(WINDOWS_TESTS_RUN ON)
      # Without the preloader, now and then a Wine start fails to map its
      # shared data at the fixed address where it must lie.
      find_program(WINE_PRELOADER wine64-preloader PATHS /usr/lib/wine)
      if(NOT WINE_PRELOADER)
        message(WARNING "wine64-preloader not found: about one Wine start in a few thousand will fail (apt-get install wine64-preloader)")
      endif()
    endif()
  endif()
  if(MINGW32_CXX)
    add_cross_build(windows32_programs mingw-w64-i686 ${WINDOWS32_BUILD_DIR})
    set(WINDOWS32_PROGRAMS_BUILT ON)
  endif()
  set(WINDOWS_SKIP_REASON "MinGW-w64 or Wine not found: apt-get install g++-mingw-w64-x86-64-win32 wine wine64, then configure again")
  set(WINDOWS32_SKIP_REASON "32-bit MinGW-w64 not found: apt-get install g++-mingw-w64-i686-win32, then configure again")
endif()
if(NOT CMAKE_CROSSCOMPILING)
  if(NOT WINDOWS_TESTS_RUN)
    message(STATUS "Windows leg skipped: ${WINDOWS_SKIP_REASON}")
  endif()
  if(NOT WINDOWS32_PROGRAMS_BUILT)
    message(STATUS "32-bit Windows programs skipped: ${WINDOWS32_SKIP_REASON}")
  endif()
endif()
