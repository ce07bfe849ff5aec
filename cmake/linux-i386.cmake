# 32-bit Linux programs (i386), built with the host's g++ and its multilib
# support (Debian's g++-multilib).  64-bit file offsets and times, so that
# large inode numbers and dates after 2038 do not make file calls fail.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i386)
set(CMAKE_CXX_FLAGS_INIT "-m32 -D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
