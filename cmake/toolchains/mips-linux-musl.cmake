# MIPS32 big-endian Linux with musl and soft float: the router's own C
# library on a processor without an FPU. The compilers are those in
# SW_SYSROOT/bin when there are any: scripts/cross-musl puts Debian's
# mips-linux-gnu-gcc and g++ there, pointed at the sysroot it builds. A router
# SDK's musl or uClibc-ng compilers work with the same file, e.g.
#   -DSW_CROSS_TRIPLE=mips-openwrt-linux-musl
#   -DSW_SYSROOT=/sdk/staging_dir/toolchain-mips_24kc_gcc-12.3.0_musl
#   -DSW_TARGET_FLAGS="-msoft-float;-march=24kc"
# SW_SYSROOT being the sysroot of their C library (its lib/ld-musl-*.so.1).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)
if(NOT SW_CROSS_TRIPLE)
  set(SW_CROSS_TRIPLE mips-linux-musl)
endif()
if(NOT SW_SYSROOT)
  message(FATAL_ERROR "SW_SYSROOT is not set: the target's sysroot (scripts/cross-musl DIR makes one)")
endif()
get_filename_component(SW_SYSROOT "${SW_SYSROOT}" ABSOLUTE)
if(NOT DEFINED SW_TARGET_FLAGS)
  set(SW_TARGET_FLAGS -msoft-float)
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES SW_CROSS_TRIPLE SW_SYSROOT SW_TARGET_FLAGS)

set(_sw_sysroot_compilers OFF)
if(EXISTS "${SW_SYSROOT}/bin/${SW_CROSS_TRIPLE}-gcc")
  set(CMAKE_C_COMPILER "${SW_SYSROOT}/bin/${SW_CROSS_TRIPLE}-gcc")
  set(CMAKE_CXX_COMPILER "${SW_SYSROOT}/bin/${SW_CROSS_TRIPLE}-g++")
  set(_sw_sysroot_compilers ON)
else()
  set(CMAKE_C_COMPILER ${SW_CROSS_TRIPLE}-gcc)
  set(CMAKE_CXX_COMPILER ${SW_CROSS_TRIPLE}-g++)
endif()
set(CMAKE_SYSROOT "${SW_SYSROOT}")

list(JOIN SW_TARGET_FLAGS " " _sw_flags)
set(CMAKE_C_FLAGS_INIT "${_sw_flags}")
set(CMAKE_CXX_FLAGS_INIT "${_sw_flags}")
# Soft and hard float objects link with no more than a warning ("uses
# -mhard-float"), and the float arithmetic between them is then silently
# wrong: here any linker warning fails the link. Programs link dynamically:
# linkgauge needs the router's platform libraries, shared objects on the
# router's libc.so, which its firmware carries anyway (README, "musl and
# soft float", has the sizes).
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-Wl,--fatal-warnings")
endforeach()

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Link-time optimisation (a firmware build's) archives objects with the
# compiler's gcc-ar and gcc-ranlib, which CMake looks for beside the
# compilers. scripts/cross-musl's are Debian's mips-linux-gnu compilers with
# the sysroot's flags, and its bin has no gcc-ar: Debian's is theirs.
foreach(tool ar ranlib)
  string(TOUPPER ${tool} _sw_tool)
  if(_sw_sysroot_compilers AND NOT EXISTS "${SW_SYSROOT}/bin/${SW_CROSS_TRIPLE}-gcc-${tool}")
    find_program(SW_GCC_${_sw_tool} mips-linux-gnu-gcc-${tool})
    if(SW_GCC_${_sw_tool})
      set(CMAKE_C_COMPILER_${_sw_tool} "${SW_GCC_${_sw_tool}}" CACHE FILEPATH "")
      set(CMAKE_CXX_COMPILER_${_sw_tool} "${SW_GCC_${_sw_tool}}" CACHE FILEPATH "")
    endif()
  endif()
endforeach()

# Lets ctest, gtest_discover_tests and try_run execute target binaries; the
# loader of a dynamic program comes from the sysroot.
find_program(SW_CROSS_QEMU_PATH qemu-mips-static)
if(SW_CROSS_QEMU_PATH)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SW_CROSS_QEMU_PATH} -L ${SW_SYSROOT})
endif()
