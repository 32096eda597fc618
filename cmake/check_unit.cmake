# systemd-analyze verify on a copy of UNIT whose ExecStart names the built
# PROGRAM (the installed path need not exist yet); any complaint fails.
get_filename_component(name ${UNIT} NAME)
set(dir ${CMAKE_CURRENT_BINARY_DIR}/unit-check)
file(REMOVE_RECURSE ${dir})
file(READ ${UNIT} text)
string(REGEX REPLACE "ExecStart=[^ ]+" "ExecStart=${PROGRAM}" text "${text}")
file(WRITE ${dir}/${name} "${text}")
execute_process(COMMAND ${ANALYZE} verify --man=no ${dir}/${name}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
# Complaints about other units on this machine (their failures make the
# status nonzero too) are none of this unit's business.
string(REGEX MATCHALL "[^\n]*${name}[^\n]*" ours "${out}${err}")
file(REMOVE_RECURSE ${dir})
if(ours OR (NOT rc EQUAL 0 AND "${out}${err}" STREQUAL ""))
  message(FATAL_ERROR "systemd-analyze verify ${name} (${rc}):\n${out}${err}")
endif()
