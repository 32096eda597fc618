# In a cross build, the stand-in programs of a directory are target binaries
# that a host shell cannot exec. Each keeps its usual path, but as a small
# script that runs the real binary (moved into a .target/ subfolder) through
# the emulator, so tests that start them through sh or execvp work unchanged.
function(sw_emulate_directory_programs dir)
  if(NOT CMAKE_CROSSCOMPILING OR NOT CMAKE_CROSSCOMPILING_EMULATOR)
    return()
  endif()
  list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " emulator)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(t ${targets})
    get_target_property(type ${t} TYPE)
    get_target_property(outdir ${t} RUNTIME_OUTPUT_DIRECTORY)
    if(NOT type STREQUAL "EXECUTABLE" OR NOT outdir)
      continue()
    endif()
    set_target_properties(${t} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${outdir}/.target)
    file(GENERATE OUTPUT ${outdir}/$<TARGET_FILE_NAME:${t}>
      CONTENT "#!/bin/sh\nexec ${emulator} ${outdir}/.target/$<TARGET_FILE_NAME:${t}> \"$@\"\n"
      FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endforeach()
endfunction()
