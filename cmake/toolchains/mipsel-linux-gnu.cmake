# MIPS32 little-endian Linux: proves the code on the other byte order, and
# Debian ships OpenSSL for it.
set(CMAKE_SYSTEM_PROCESSOR mipsel)
set(SW_CROSS_TRIPLE mipsel-linux-gnu)
set(SW_CROSS_QEMU qemu-mipsel-static)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
