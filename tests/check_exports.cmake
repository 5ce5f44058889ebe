# Fails unless the shared library's dynamic symbol table defines exactly the C entry points.
# Usage: cmake -DNM=nm -DLIBRARY=liboscnet.so -P check_exports.cmake
set(expected Predict build_net myAdd release_net train oscnet_param_count oscnet_get_params
             oscnet_set_params oscnet_create oscnet_destroy oscnet_input_size oscnet_output_size
             oscnet_train oscnet_reset_optimizer oscnet_predict oscnet_predict_rows
             oscnet_weights_count oscnet_get_weights oscnet_set_weights oscnet_last_error)

execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${listing}")
set(defined)
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] +" "" name "${line}")
  list(APPEND defined ${name})
endforeach()
list(SORT defined)
list(SORT expected)
if(NOT defined STREQUAL expected)
  message(FATAL_ERROR "exported: [${defined}]\nexpected: [${expected}]")
endif()
message(STATUS "exported exactly: ${defined}")
