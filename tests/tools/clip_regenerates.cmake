# The committed animation clip is what the clip maker draws: regenerate it and compare byte for byte.
# Arguments: TOOL (make-filecopy-clip), OUT (a scratch file), EXPECTED (assets/FILECOPY.avi).
execute_process(COMMAND "${TOOL}" "${OUT}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "make-filecopy-clip failed: ${status}")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${OUT}" "${EXPECTED}" RESULT_VARIABLE differs)
if(NOT differs EQUAL 0)
  message(FATAL_ERROR "${EXPECTED} is not what make-filecopy-clip draws; regenerate it with\n"
                      "  make-filecopy-clip ${EXPECTED}")
endif()
file(REMOVE "${OUT}")
