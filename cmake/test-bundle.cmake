# Runs after CPack: writes the test bundle into the package directory. At its top run-tests.cmd;
# in programs/ the helper exactly as the release holds it, the test programs (stripped, to keep the
# download small) and everything they start, all side by side as the tests expect them.
set(binaryDir ${CPACK_PACKAGE_DIRECTORY})
set(staging ${binaryDir}/test-bundle)
file(REMOVE_RECURSE ${staging})
file(MAKE_DIRECTORY ${staging}/programs)
file(COPY ${CPACK_TAVELUNE_TEST_RUNNER} DESTINATION ${staging})
file(COPY ${CPACK_TAVELUNE_HELPER_EXE} DESTINATION ${staging}/programs)
foreach(name IN LISTS CPACK_TAVELUNE_TEST_FILES CPACK_TAVELUNE_TEST_PROGRAMS)
  if(NOT EXISTS ${binaryDir}/${name})
    message(FATAL_ERROR "The test bundle needs ${name}, which the build did not make")
  endif()
  file(COPY ${binaryDir}/${name} DESTINATION ${staging}/programs)
endforeach()
foreach(name IN LISTS CPACK_TAVELUNE_TEST_PROGRAMS)
  execute_process(COMMAND ${CPACK_TAVELUNE_STRIP} --strip-all ${staging}/programs/${name}
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
file(REMOVE ${binaryDir}/${CPACK_TAVELUNE_TEST_BUNDLE})
execute_process(
  COMMAND ${CMAKE_COMMAND} -E tar cf ${binaryDir}/${CPACK_TAVELUNE_TEST_BUNDLE} --format=zip
          run-tests.cmd programs
  WORKING_DIRECTORY ${staging} COMMAND_ERROR_IS_FATAL ANY)
message(STATUS "Test bundle written to ${binaryDir}/${CPACK_TAVELUNE_TEST_BUNDLE}")
