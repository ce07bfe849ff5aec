# add_cross_build(TARGET TOOLCHAIN DIR): builds this project again with the
# toolchain file cmake/TOOLCHAIN.cmake into DIR (the programs into DIR/bin),
# without its tests.  Used for the Windows programs and the 32-bit Linux
# ones.
function(add_cross_build target toolchain dir)
  include(ExternalProject)
  ExternalProject_Add(${target}
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${dir}
    CMAKE_ARGS -G Ninja
               -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/${toolchain}.cmake
               -DCMAKE_BUILD_TYPE=Release
               -DBUILD_TESTING=OFF
               -DBUILD_HELPERS=ON
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    USES_TERMINAL_BUILD ON)
endfunction()
