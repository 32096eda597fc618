# Each library's include interface: a folder in the build tree holding one
# link named after the library's source folder, so that `#include
# "config/x.h"` resolves only in targets that link the config library, and
# an include of a folder above fails to compile instead of working by
# accident. The layers read bottom-up: common, os, portal, then device,
# config, probes, then supervisor; bandwidth and collector stand on common.
function(sw_library_headers target)
  file(RELATIVE_PATH folder ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  set(root ${CMAKE_BINARY_DIR}/include/${folder})
  if(NOT EXISTS ${root}/${folder})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${folder} SYMBOLIC)
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()
