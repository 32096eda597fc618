# Configures and builds one program of the project in a build folder of its
# own, with other build-time settings than the build that runs this script
# (cmake -P): SOURCE_DIR, BUILD_DIR, TARGET, and SETTINGS, the cmake options
# of the variant joined by "|".
string(REPLACE "|" ";" settings "${SETTINGS}")
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${BUILD_DIR} ${settings}
  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "configuring ${BUILD_DIR} failed: ${err}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target ${TARGET} --parallel 2
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "building ${TARGET} in ${BUILD_DIR} failed:\n${out}\n${err}")
endif()
