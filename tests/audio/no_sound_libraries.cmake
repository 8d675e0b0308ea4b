# SPDX-License-Identifier: GPL-3.0-or-later
# cmake -DREADELF=readelf -DFILES="a;b" -P no_sound_libraries.cmake
# Fails when any of FILES lists a resampler among its NEEDED libraries, or when the
# list cannot be read at all (so a missing readelf never passes for a clean program).
foreach(file IN LISTS FILES)
  execute_process(COMMAND ${READELF} -d ${file} RESULT_VARIABLE status OUTPUT_VARIABLE dynamic ERROR_VARIABLE error)
  if(NOT status EQUAL 0 OR NOT dynamic MATCHES "NEEDED")
    message(FATAL_ERROR "cannot read the dynamic section of ${file}: ${error}")
  endif()
  string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*\\[[^]\n]*\\]" needed "${dynamic}")
  foreach(entry IN LISTS needed)
    if(entry MATCHES "libsoxr|libsamplerate")
      message(FATAL_ERROR "${file} links a sound library at start-up: ${entry}")
    endif()
  endforeach()
  list(LENGTH needed count)
  message(STATUS "${file}: ${count} libraries needed, no sound library among them")
endforeach()
