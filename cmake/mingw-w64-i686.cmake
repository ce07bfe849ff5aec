# 32-bit Windows programs (Debian's g++-mingw-w64-i686-win32): the ones that
# are released, since they run on every Windows from XP on, 32- or 64-bit.
set(MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
