# 64-bit Windows programs (Debian's g++-mingw-w64-x86-64-win32); these are the
# ones the tests run under Wine.
set(MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
