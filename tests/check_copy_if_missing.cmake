# The example data file is copied where none exists and never over a user's.
set(dir "${WORK}/copy_if_missing")
file(REMOVE_RECURSE "${dir}")
file(WRITE "${dir}/example.txt" "example")
execute_process(COMMAND ${CMAKE_COMMAND} -DSRC=${dir}/example.txt -DDST=${dir}/bin/data.txt
                -P ${SCRIPT} RESULT_VARIABLE rc)
file(READ "${dir}/bin/data.txt" first)
if(NOT rc EQUAL 0 OR NOT first STREQUAL "example")
  message(FATAL_ERROR "example not copied into an empty folder (rc ${rc}, got '${first}')")
endif()
file(WRITE "${dir}/bin/data.txt" "user's counts")
execute_process(COMMAND ${CMAKE_COMMAND} -DSRC=${dir}/example.txt -DDST=${dir}/bin/data.txt
                -P ${SCRIPT} RESULT_VARIABLE rc)
file(READ "${dir}/bin/data.txt" second)
if(NOT rc EQUAL 0 OR NOT second STREQUAL "user's counts")
  message(FATAL_ERROR "user's data.txt was replaced (rc ${rc}, got '${second}')")
endif()
message(STATUS "1 passed, 0 failed")
