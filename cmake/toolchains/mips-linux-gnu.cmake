# MIPS32 big-endian Linux: the router's processor.
set(CMAKE_SYSTEM_PROCESSOR mips)
set(SW_CROSS_TRIPLE mips-linux-gnu)
set(SW_CROSS_QEMU qemu-mips-static)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
