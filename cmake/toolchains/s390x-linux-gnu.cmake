# 64-bit, big-endian: IBM Z.
set(UTIL_CROSS_ARCH s390x)
set(UTIL_CROSS_TRIPLE s390x-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux-gnu.cmake)
