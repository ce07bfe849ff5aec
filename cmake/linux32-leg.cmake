# The 32-bit Linux programs (i386), built again from the same sources into
# build/linux32 when the compiler can build static 32-bit programs (Debian's
# g++-multilib).  Game servers are 32-bit programs, so every machine that
# runs one runs these.  LINUX32_LEG=OFF turns them off.
option(LINUX32_LEG "Build and test the 32-bit Linux programs when the compiler can" ON)
set(LINUX32_BUILD_DIR ${CMAKE_BINARY_DIR}/linux32)
set(LINUX32_PROGRAMS_BUILT OFF)
set(LINUX32_SKIP_REASON "configured with LINUX32_LEG=OFF")

if(LINUX32_LEG AND NOT CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_NAME STREQUAL "Linux"
   AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|amd64|AMD64)$")
  include(CheckCXXSourceCompiles)
  set(CMAKE_REQUIRED_FLAGS -m32)
  set(CMAKE_REQUIRED_LINK_OPTIONS -m32 -static)
  check_cxx_source_compiles("#include <cstdio>
int main() { return std::puts(\"\") < 0; }" CAN_BUILD_STATIC_I386)
  unset(CMAKE_REQUIRED_FLAGS)
  unset(CMAKE_REQUIRED_LINK_OPTIONS)
  if(CAN_BUILD_STATIC_I386)
    add_cross_build(linux32_programs linux-i386 ${LINUX32_BUILD_DIR})
    set(LINUX32_PROGRAMS_BUILT ON)
  else()
    set(LINUX32_SKIP_REASON "the compiler cannot build static 32-bit programs: apt-get install g++-multilib, then configure a new build folder")
  endif()
elseif(LINUX32_LEG)
  set(LINUX32_SKIP_REASON "32-bit Linux programs are built on x86_64 Linux only")
endif()
if(NOT CMAKE_CROSSCOMPILING AND NOT LINUX32_PROGRAMS_BUILT)
  message(STATUS "32-bit Linux programs skipped: ${LINUX32_SKIP_REASON}")
endif()
