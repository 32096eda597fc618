# Installs BUILD_DIR into a scratch PREFIX and checks that exactly the
# PROGRAMS land there, in sbin and executable, each with its section-8
# manual page, plus the OPERATOR_FILES (paths under the prefix; none in a
# cross build): nothing from the stand-ins, the sandbox or the tests.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${err}")
endif()
set(expected ${OPERATOR_FILES})
foreach(p ${PROGRAMS})
  list(APPEND expected sbin/${p} share/man/man8/${p}.8)
endforeach()
file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE ${PREFIX} ${PREFIX}/*)
list(SORT expected)
list(SORT installed)
if(NOT installed STREQUAL expected)
  message(FATAL_ERROR "installed: ${installed}\nexpected:  ${expected}")
endif()
foreach(p ${PROGRAMS})
  execute_process(COMMAND test -x ${PREFIX}/sbin/${p} RESULT_VARIABLE not_executable)
  if(not_executable)
    message(FATAL_ERROR "sbin/${p} is not executable")
  endif()
endforeach()
file(REMOVE_RECURSE ${PREFIX})
