# MIPS32 big-endian Linux: the router's processor.
set(CMAKE_SYSTEM_PROCESSOR mips)
if(NOT SW_CROSS_TRIPLE)
  set(SW_CROSS_TRIPLE mips-linux-gnu)
endif()
set(SW_CROSS_QEMU qemu-mips-static)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
