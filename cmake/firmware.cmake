# How the two programs are linked to run on a router that has a C library
# but no C++ runtime: libstdc++ and libgcc linked in statically, and the few
# runtime pieces the programs reach supplied by common/tiny_runtime.cc, so that
# what is linked in stays small.
option(SPOTWARDEN_STRIP "Strip the programs at link time (firmware images)" OFF)
option(SPOTWARDEN_TINY_RUNTIME "Link the programs with their own operator new and __throw_* helpers" ON)
option(SPOTWARDEN_STATIC_CXX_RUNTIME "Link libstdc++ and libgcc statically into the programs" ON)

function(sw_firmware_program target)
  if(NOT TARGET ${target})
    return()
  endif()
  if(SPOTWARDEN_TINY_RUNTIME)
    target_link_libraries(${target} PRIVATE swruntime)
  endif()
  if(SPOTWARDEN_STATIC_CXX_RUNTIME)
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc)
  endif()
  target_link_options(${target} PRIVATE -Wl,--gc-sections -Wl,--as-needed)
  if(SPOTWARDEN_FIRMWARE)
    target_link_options(${target} PRIVATE ${SW_FIRMWARE_LINK_OPTIONS})
  endif()
  if(SW_FIRMWARE_LTO)
    # Link-time optimisation generates the code at the link, where neither
    # the sections per function and object that --gc-sections needs nor the
    # warnings carry over from the compile: both are asked for again, so
    # that a warning still fails the build.
    target_link_options(${target} PRIVATE -ffunction-sections -fdata-sections ${SW_WARNINGS})
  endif()
  if(SPOTWARDEN_STRIP)
    target_link_options(${target} PRIVATE -s)
  endif()
endfunction()

# Code generation of a firmware image, measured on MIPS big-endian, stripped
# bytes of spotwarden (glibc / musl) and linkgauge (glibc / musl):
# - a position-dependent executable saves about 10 % (no PIE), and on MIPS
#   calls through a PLT instead of the GOT (-mplt) about 15 % more; no
#   build-id note. Together: spotwarden 39,056 / 38,844, linkgauge
#   11,768 / 19,020. -fno-plt beside -mplt changes nothing; in its place,
#   calls through the GOT, +8.7 KB for spotwarden.
# - link-time optimisation (the libraries and programs compiled for it,
#   below): spotwarden -3,116 / -3,760, linkgauge -668 / -736; with a
#   section per function and object in the code made at the link, a further
#   -192 / -192 and -544 / -336. It needs the compiler's gcc-ar (the musl
#   toolchain file names Debian's for scripts/cross-musl's compilers;
#   without one it is left out).
# - no .eh_frame_hdr (-Wl,--no-eh-frame-hdr): spotwarden -120 / -116,
#   linkgauge 0. Nothing here unwinds: no exceptions, and the runtime aborts.
# No gain (0 to 32 bytes each), left out: -fno-asynchronous-unwind-tables
# -fno-unwind-tables (neither is on for MIPS), -fno-stack-protector (off in
# Debian's gcc), -fno-jump-tables, -fipa-pta, -mno-shared (implied by
# -fno-pie), -mframe-header-opt, -fno-ident, -Oz (as -Os),
# -flto-partition=one, -Wl,-z,norelro, -Wl,-z,noseparate-code,
# -Wl,--sort-section=alignment, and -fmerge-all-constants, which would also
# merge constants whose addresses must differ. Larger: -Wl,-z,now (+32),
# -Wl,-O1 (+448), -Wl,--hash-style=gnu (+552: on MIPS a .MIPS.xhash larger
# than the .hash it replaces); gold does not link these programs.
# Not taken: -mips16 (spotwarden about 30.6 KB with link-time
# optimisation) needs the MIPS16e extension, which not every router's core
# has; -mmicromips does not link with libgcc's MIPS32 division helpers;
# -mno-check-zero-division (-16) drops the trap on a division by zero.
# The stripped file also grows by up to 4 KiB at times without its code
# doing so: ld pads the data segment to a page when that saves the process
# a page of memory.
option(SPOTWARDEN_FIRMWARE "Size-trimming code generation for a firmware image" OFF)
option(SPOTWARDEN_FIRMWARE_LTO "Link-time optimisation of a firmware image's programs" ON)
set(_sw_fw_compile -fno-pie)
set(_sw_fw_link -no-pie -Wl,--build-id=none -Wl,--no-eh-frame-hdr)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^mips")
  list(APPEND _sw_fw_compile -mplt)
endif()
set(SW_FIRMWARE_COMPILE_OPTIONS "${_sw_fw_compile}" CACHE STRING "Compile options of a firmware build")
set(SW_FIRMWARE_LINK_OPTIONS "${_sw_fw_link}" CACHE STRING "Link options of a firmware build")
# Link-time optimisation archives the libraries with the compiler's gcc-ar
# and gcc-ranlib; a toolchain without them builds the firmware without it.
set(SW_FIRMWARE_LTO OFF)
if(SPOTWARDEN_FIRMWARE AND SPOTWARDEN_FIRMWARE_LTO)
  if(CMAKE_C_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU"
     AND CMAKE_C_COMPILER_AR AND CMAKE_CXX_COMPILER_AR
     AND CMAKE_C_COMPILER_RANLIB AND CMAKE_CXX_COMPILER_RANLIB)
    set(SW_FIRMWARE_LTO ON)
  else()
    message(STATUS "Firmware without link-time optimisation: no gcc-ar and gcc-ranlib beside ${CMAKE_CXX_COMPILER}")
  endif()
endif()
