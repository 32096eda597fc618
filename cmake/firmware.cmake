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
  if(SPOTWARDEN_STRIP)
    target_link_options(${target} PRIVATE -s)
  endif()
endfunction()

# Code generation of a firmware image, measured on MIPS big-endian: a
# position-dependent executable saves about 10 % (no PIE), and on MIPS calls
# through a PLT instead of the GOT (-mplt) about 15 % more; no build-id note.
option(SPOTWARDEN_FIRMWARE "Size-trimming code generation for a firmware image" OFF)
set(_sw_fw_compile -fno-pie)
set(_sw_fw_link -no-pie -Wl,--build-id=none)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^mips")
  list(APPEND _sw_fw_compile -mplt)
endif()
set(SW_FIRMWARE_COMPILE_OPTIONS "${_sw_fw_compile}" CACHE STRING "Compile options of a firmware build")
set(SW_FIRMWARE_LINK_OPTIONS "${_sw_fw_link}" CACHE STRING "Link options of a firmware build")
