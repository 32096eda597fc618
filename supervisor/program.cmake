# The supervisor's own start-up code, apart from swcore, which the config and
# probes libraries build on.
add_library(swstartup STATIC
  ${CMAKE_CURRENT_LIST_DIR}/args.cc
  ${CMAKE_CURRENT_LIST_DIR}/requests.cc
  ${CMAKE_CURRENT_LIST_DIR}/offline_conf.cc
  ${CMAKE_CURRENT_LIST_DIR}/startup.cc)
target_link_libraries(swstartup PUBLIC swcore swdevice)
sw_program_flags(swstartup)

sw_add_unit_test(supervisor_startup_test
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/args_test.cc
    ${CMAKE_CURRENT_LIST_DIR}/requests_test.cc
    ${CMAKE_CURRENT_LIST_DIR}/offline_conf_test.cc
  LIBS swstartup)

# The control cycle and the talkback loop: the supervisor's life after
# start-up, on top of the configuration files and the probes. A cross build
# without the target's libcrypto has no probes and so no program.
if(NOT TARGET swprobes)
  return()
endif()
add_library(swcontrol STATIC
  ${CMAKE_CURRENT_LIST_DIR}/control_cycle.cc
  ${CMAKE_CURRENT_LIST_DIR}/talkback.cc)
target_link_libraries(swcontrol PUBLIC swstartup swconfig swprobes)
sw_program_flags(swcontrol)

add_executable(spotwarden ${CMAKE_CURRENT_LIST_DIR}/main.cc)
target_link_libraries(spotwarden PRIVATE swcontrol)
sw_program_flags(spotwarden)
set_target_properties(spotwarden PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

sw_add_unit_test(supervisor_control_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/talkback_test.cc
  LIBS swcontrol)
