# Fails when a source file differs from what clang-format makes of it.
# Usage: cmake -DCLANG_FORMAT=clang-format -DSOURCE_DIR=... -P check_format.cmake
file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR}
     ${SOURCE_DIR}/include/*.h ${SOURCE_DIR}/nodes/*.h ${SOURCE_DIR}/nodes/*.cpp
     ${SOURCE_DIR}/network/*.h ${SOURCE_DIR}/network/*.cpp ${SOURCE_DIR}/api/*.h
     ${SOURCE_DIR}/api/*.cpp ${SOURCE_DIR}/tests/*.h ${SOURCE_DIR}/tests/*.cpp
     ${SOURCE_DIR}/tests/*.c ${SOURCE_DIR}/examples/*.cpp ${SOURCE_DIR}/examples/*.c
     ${SOURCE_DIR}/bench/*.cpp ${SOURCE_DIR}/trainer/*.h ${SOURCE_DIR}/trainer/*.cpp)
execute_process(COMMAND ${CLANG_FORMAT} --dry-run -Werror ${sources}
                WORKING_DIRECTORY ${SOURCE_DIR} RESULT_VARIABLE status ERROR_VARIABLE complaints)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "not formatted with clang-format:\n${complaints}")
endif()
