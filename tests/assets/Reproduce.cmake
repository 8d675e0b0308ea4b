# Runs a generator into a scratch folder and checks that it gives, byte for
# byte, the files committed under the reference folder.
#   -DGENERATOR=<program> -DARGS=<arguments; %OUT% stands for the scratch folder>
#   -DOUT=<scratch folder> -DREFERENCE=<committed folder> -DFILES=<paths relative to both>
file(REMOVE_RECURSE "${OUT}")
file(MAKE_DIRECTORY "${OUT}")
string(REPLACE "%OUT%" "${OUT}" args "${ARGS}")
execute_process(COMMAND "${GENERATOR}" ${args} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${GENERATOR} failed: ${rc}")
endif()
foreach(f IN LISTS FILES)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${OUT}/${f}" "${REFERENCE}/${f}" RESULT_VARIABLE diff)
  if(NOT diff EQUAL 0)
    message(FATAL_ERROR "${f}: the generator's output differs from the committed copy; regenerate it (docs/ASSETS.md)")
  endif()
endforeach()
message(STATUS "${GENERATOR}: all ${FILES} match")
