# 64-bit ARM: unsigned char, a weaker memory order than x86-64's.
set(UTIL_CROSS_ARCH aarch64)
set(UTIL_CROSS_TRIPLE aarch64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux-gnu.cmake)
