# The supervisor's own start-up code, apart from swcore, which the config and
# probes libraries build on.
add_library(swstartup STATIC
  ${CMAKE_CURRENT_LIST_DIR}/args.cc
  ${CMAKE_CURRENT_LIST_DIR}/requests.cc
  ${CMAKE_CURRENT_LIST_DIR}/offline_conf.cc
  ${CMAKE_CURRENT_LIST_DIR}/startup.cc)
target_link_libraries(swstartup PUBLIC swcore swdevice)
sw_program_flags(swstartup)

# The control cycle arrives in its own file; until then a stub keeps the
# supervisor alive after start-up.
set(SPOTWARDEN_CONTROL_SOURCES ${CMAKE_CURRENT_LIST_DIR}/control_cycle_stub.cc)
set(SPOTWARDEN_CONTROL_LIBS)

add_executable(spotwarden ${CMAKE_CURRENT_LIST_DIR}/main.cc ${SPOTWARDEN_CONTROL_SOURCES})
target_link_libraries(spotwarden PRIVATE swstartup ${SPOTWARDEN_CONTROL_LIBS})
sw_program_flags(spotwarden)
set_target_properties(spotwarden PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

sw_add_unit_test(supervisor_startup_test
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/args_test.cc
    ${CMAKE_CURRENT_LIST_DIR}/requests_test.cc
    ${CMAKE_CURRENT_LIST_DIR}/offline_conf_test.cc
  LIBS swstartup)
