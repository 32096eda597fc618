# Sanitizer builds. SPOTWARDEN_SANITIZE=ON instruments every target (programs,
# stand-ins, tests) with AddressSanitizer, UndefinedBehaviorSanitizer and, at
# exit, LeakSanitizer. Any report ends the process with a failure
# (-fno-sanitize-recover=all), so a test that provokes one fails.
#
# The programs are linked here like ordinary executables: the sanitizer
# runtime brings its own operator new and needs the shared C++ runtime, so
# the firmware's own runtime and the static libstdc++ are left out.
option(SPOTWARDEN_SANITIZE "Build with AddressSanitizer + UndefinedBehaviorSanitizer (and leak checks)" OFF)

if(SPOTWARDEN_SANITIZE)
  set(SW_SANITIZE_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all
    -fno-omit-frame-pointer)
  add_compile_options(${SW_SANITIZE_FLAGS})
  add_link_options(-fsanitize=address,undefined)
  set(SPOTWARDEN_TINY_RUNTIME OFF CACHE BOOL "" FORCE)
  set(SPOTWARDEN_STATIC_CXX_RUNTIME OFF CACHE BOOL "" FORCE)
endif()

# Fuzzing builds. SPOTWARDEN_FUZZ=ON with clang builds the libFuzzer targets
# of fuzz/: every target gets coverage instrumentation for the fuzzer and the
# same sanitizers, so a fuzz input that corrupts memory or overflows stops the
# run. Other compilers have no libFuzzer; the option is then ignored.
option(SPOTWARDEN_FUZZ "Build the libFuzzer targets of fuzz/ (clang only)" OFF)
set(SW_FUZZ_ENABLED OFF)
if(SPOTWARDEN_FUZZ)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    set(SW_FUZZ_ENABLED ON)
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
      -fno-omit-frame-pointer)
    # The C++ part of the runtime even for executables linked as C
    # (linkgauge): C++ code in them is checked for calls through pointers of
    # the wrong function type.
    add_link_options(-fsanitize=address,undefined -fsanitize-link-c++-runtime)
    set(SPOTWARDEN_TINY_RUNTIME OFF CACHE BOOL "" FORCE)
    set(SPOTWARDEN_STATIC_CXX_RUNTIME OFF CACHE BOOL "" FORCE)
  else()
    message(WARNING "SPOTWARDEN_FUZZ needs clang (libFuzzer); no fuzz targets are built")
  endif()
endif()
