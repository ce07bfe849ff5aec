# Cross-compiles the Windows programs with MinGW-w64 for MINGW_TRIPLET, which
# the architecture's own toolchain file (mingw-w64-x86_64.cmake,
# mingw-w64-i686.cmake) sets before it includes this one.
set(CMAKE_SYSTEM_NAME Windows)

# The win32 thread model needs no winpthread DLL.
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-win32)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
