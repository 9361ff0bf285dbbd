# A Debian cross build for the target whose GNU triple is UTIL_CROSS_TRIPLE
# (set by the toolchain file that includes this one): Debian's cross
# compiler, the target's libraries under /usr/<triple>, and qemu-user to run
# what is built (the tests through ctest, the tools through their tests).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${UTIL_CROSS_ARCH})
set(CMAKE_C_COMPILER ${UTIL_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${UTIL_CROSS_TRIPLE}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${UTIL_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
# Header-only packages (CLI11) are the host's, as they are for any target.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${UTIL_CROSS_ARCH} -L /usr/${UTIL_CROSS_TRIPLE})
