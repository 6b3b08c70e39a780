# Writes a CTest file with one test per GoogleTest suite of a test program
# (--gtest_filter=Suite.*), for builds where every process start is dear:
# under the sanitizers, loading the program's libraries costs about a second,
# and a run of one process per case spends minutes on that alone.
#   cmake -DPROGRAM=... -DCTEST_FILE=... -DWORKING_DIRECTORY=... -P gtest_suites.cmake
execute_process(COMMAND "${PROGRAM}" --gtest_list_tests
                OUTPUT_VARIABLE listing RESULT_VARIABLE status TIMEOUT 120)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --gtest_list_tests failed: ${status}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(out "")
foreach(line IN LISTS lines)
  # A suite's line starts in the first column and ends its name with a dot;
  # typed and parameterised suites add a comment after it.
  if(line MATCHES "^([A-Za-z0-9_/]+)\\.")
    set(suite "${CMAKE_MATCH_1}")
    string(APPEND out "add_test([=[${suite}]=] [==[${PROGRAM}]==] [==[--gtest_filter=${suite}.*]==])\n"
                      "set_tests_properties([=[${suite}]=] PROPERTIES WORKING_DIRECTORY [==[${WORKING_DIRECTORY}]==])\n")
  endif()
endforeach()
file(WRITE "${CTEST_FILE}" "${out}")
