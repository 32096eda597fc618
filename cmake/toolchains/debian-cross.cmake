# Shared part of the Debian cross toolchains: include()d by a toolchain file
# after it has set SW_CROSS_TRIPLE and SW_CROSS_QEMU. A router SDK's compilers
# are used instead with -DSW_CROSS_TRIPLE=<its prefix> (and -DCMAKE_SYSROOT=).
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES SW_CROSS_TRIPLE)
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${SW_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${SW_CROSS_TRIPLE}-g++)

# Debian's cross libc lives here; the same prefix lets qemu find ld.so.1.
set(SW_CROSS_PREFIX /usr/${SW_CROSS_TRIPLE})
list(APPEND CMAKE_FIND_ROOT_PATH ${SW_CROSS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Lets ctest, gtest_discover_tests and try_run execute target binaries.
find_program(SW_CROSS_QEMU_PATH ${SW_CROSS_QEMU})
if(SW_CROSS_QEMU_PATH)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SW_CROSS_QEMU_PATH} -L ${SW_CROSS_PREFIX})
endif()
