# MIPS32 little-endian Linux: proves the code on the other byte order, and
# Debian ships OpenSSL for it.
set(CMAKE_SYSTEM_PROCESSOR mipsel)
if(NOT SW_CROSS_TRIPLE)
  set(SW_CROSS_TRIPLE mipsel-linux-gnu)
endif()
set(SW_CROSS_QEMU qemu-mipsel-static)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
