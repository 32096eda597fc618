# Flags shared by every target of the project.
set(SW_WARNINGS -Wall -Wextra -Werror -Wformat=2 -Wshadow -Wcast-align -Wpointer-arith -Wno-missing-field-initializers)

# Production code: small, no exceptions, no RTTI, dead sections collected.
function(sw_program_flags target)
  target_compile_options(${target} PRIVATE ${SW_WARNINGS}
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>
    -ffunction-sections -fdata-sections)
  target_link_options(${target} PRIVATE -Wl,--gc-sections)
  if(SPOTWARDEN_FIRMWARE)
    target_compile_options(${target} PRIVATE ${SW_FIRMWARE_COMPILE_OPTIONS})
  endif()
  if(SW_FIRMWARE_LTO)
    set_property(TARGET ${target} PROPERTY INTERPROCEDURAL_OPTIMIZATION ON)
  endif()
endfunction()

# Tests use GoogleTest as it was built (with exceptions).
function(sw_test_flags target)
  target_compile_options(${target} PRIVATE ${SW_WARNINGS})
endfunction()
