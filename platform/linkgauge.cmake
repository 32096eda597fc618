# Stand-ins for the router's platform as linkgauge meets it: the libraries
# it links against (libnvram, libvct, libsutil), the ping with the -t burst,
# the trace tool and the timer daemon. Included by platform/CMakeLists.txt.
set(PLATFORM_LIB ${CMAKE_BINARY_DIR}/platform/lib)

foreach(lib nvram vct sutil)
  add_library(platform_${lib} SHARED ${CMAKE_CURRENT_SOURCE_DIR}/${lib}_lib.cc)
  target_include_directories(platform_${lib} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include)
  target_compile_options(platform_${lib} PRIVATE ${SW_WARNINGS} -fno-exceptions -fno-rtti)
  # Plain C libraries on the router: nothing of the C++ runtime may leak in.
  set_target_properties(platform_${lib} PROPERTIES OUTPUT_NAME ${lib} LINKER_LANGUAGE C
    LIBRARY_OUTPUT_DIRECTORY ${PLATFORM_LIB})
endforeach()

add_executable(ping ${CMAKE_CURRENT_SOURCE_DIR}/ping.cc)
target_compile_options(ping PRIVATE ${SW_WARNINGS})
set_target_properties(ping PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PLATFORM_BIN})

configure_file(${CMAKE_CURRENT_SOURCE_DIR}/tracegw.sh ${PLATFORM_BIN}/tracegw COPYONLY)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/timerd.sh ${PLATFORM_BIN}/timerd COPYONLY)
