# Seconds and file offsets in 64 bits on every 32-bit target. glibc keeps
# time_t 32 bits wide there unless asked, so the clock would wrap in January
# 2038 and a deadline an int32 interval ahead would overflow today; musl has
# 64-bit time already and ignores the request. Set here rather than in a
# toolchain file so that a router SDK's compilers get it as well.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  add_compile_definitions(_TIME_BITS=64 _FILE_OFFSET_BITS=64)
endif()

# Proves it on the programs as linked: none may import a C library entry
# point that has a 64-bit twin (time beside __time64, nanosleep beside
# __nanosleep64, open beside open64, ...). For a glibc target, and for musl
# in a sysroot (its libc.so keeps the 32-bit-time entry points for old
# programs).
function(sw_add_time64_check)
  if(NOT SPOTWARDEN_BUILD_TESTS OR NOT CMAKE_SIZEOF_VOID_P EQUAL 4 OR NOT CMAKE_READELF)
    return()
  endif()
  set(libc "")
  if(CMAKE_SYSROOT)
    # The sysroot's alone: a glibc compiler pointed at a musl sysroot still
    # names its own glibc.
    foreach(candidate lib/libc.so.6 usr/lib/libc.so.6 usr/lib/libc.so lib/libc.so)
      if(EXISTS ${CMAKE_SYSROOT}/${candidate})
        # Not a linker script (glibc's and uClibc-ng's libc.so are).
        file(READ ${CMAKE_SYSROOT}/${candidate} magic LIMIT 4 HEX)
        if(magic STREQUAL "7f454c46")
          set(libc ${CMAKE_SYSROOT}/${candidate})
          break()
        endif()
      endif()
    endforeach()
  else()
    execute_process(COMMAND ${CMAKE_C_COMPILER} -print-file-name=libc.so.6
      OUTPUT_VARIABLE libc OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
  if(NOT IS_ABSOLUTE "${libc}" OR NOT EXISTS "${libc}")
    return()
  endif()
  set(programs "")
  foreach(p ${ARGN})
    if(TARGET ${p})
      list(APPEND programs $<TARGET_FILE:${p}>)
    endif()
  endforeach()
  add_test(NAME time64.imports COMMAND ${CMAKE_COMMAND} -DREADELF=${CMAKE_READELF} -DLIBC=${libc}
    "-DPROGRAMS=${programs}" -P ${CMAKE_SOURCE_DIR}/cmake/check_time64.cmake)
  set_tests_properties(time64.imports PROPERTIES LABELS unit)
endfunction()
