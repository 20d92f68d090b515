# Makes the release package into OUTPUT with CPACK from CONFIG, then runs
# CHECK (a command list) on the zip PACKAGE it made.
file(REMOVE_RECURSE ${OUTPUT})
execute_process(COMMAND ${CPACK} --config ${CONFIG} -G ZIP -B ${OUTPUT}
  RESULT_VARIABLE cpack_failed)
if(cpack_failed)
  message(FATAL_ERROR "cpack failed")
endif()
execute_process(COMMAND ${CHECK} package --zip ${OUTPUT}/${PACKAGE} --version ${VERSION}
  RESULT_VARIABLE check_failed)
if(check_failed)
  message(FATAL_ERROR "the package fails its checks")
endif()
