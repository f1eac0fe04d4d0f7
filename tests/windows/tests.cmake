# Windows test programs. Cross-built, they run under Wine through CMAKE_CROSSCOMPILING_EMULATOR,
# each in a Wine prefix of its own whose wineserver stops when the program ends; built on Windows,
# they run as they are.
include(cmake/googletest.cmake)

add_executable(stand_in tests/windows/stand_in.cpp)
target_link_options(stand_in PRIVATE -municode -static)

add_library(windows_test_support STATIC tests/windows/process_harness.cpp)
target_include_directories(windows_test_support PUBLIC tests/windows ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(windows_test_support PUBLIC UNICODE _UNICODE)

# A test program for the helper. `DISPLAY`: run it on a virtual X display; otherwise it runs with
# none, as on a machine where no window can be shown.
function(add_windows_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "DISPLAY" "" "")
  add_executable(${name} tests/windows/${name}.cpp)
  target_link_libraries(${name} PRIVATE windows_test_support GTest::gtest GTest::gtest_main)
  target_link_options(${name} PRIVATE -static)
  add_dependencies(${name} tavelune-helper stand_in)
  set_property(GLOBAL APPEND PROPERTY TAVELUNE_TEST_PROGRAMS ${name}.exe)

  if(NOT CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${name})
    return()
  endif()
  if(arg_DISPLAY)
    add_test(NAME ${name} COMMAND xvfb-run --auto-servernum --server-args=-screen\ 0\ 1024x768x24
                                  ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${name}>)
  else()
    add_test(NAME ${name} COMMAND ${name})
    set_property(TEST ${name} PROPERTY ENVIRONMENT_MODIFICATION DISPLAY=unset:)
  endif()
  set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT WINEPREFIX=${CMAKE_BINARY_DIR}/wine/${name})
  set_property(TEST ${name} PROPERTY TIMEOUT 600)
endfunction()

add_windows_test(image_test)
add_windows_test(command_line_test)
add_windows_test(scan_test)
add_windows_test(notice_test DISPLAY)

# The caller kit: started in the helper's place, the reporter says what msvcrt gave it.
add_executable(argument_reporter tests/windows/argument_reporter.cpp)
target_link_options(argument_reporter PRIVATE -municode -static)
add_windows_test(caller_kit_test DISPLAY)
add_dependencies(caller_kit_test argument_reporter tavelune-update)
# Under Wine, a write that fails part way: the command it starts may write 200 KiB a file.
add_executable(file_size_limit tests/windows/file_size_limit.cpp)
target_link_options(file_size_limit PRIVATE -municode -static)
add_dependencies(caller_kit_test file_size_limit)

# The header must build as C99 and as C++17, in several units of one program, without warnings.
enable_language(C)
add_library(client_header_check OBJECT tests/windows/client_header_c99.c
                                       tests/windows/client_header_cxx17.cpp)
target_include_directories(client_header_check PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
set_target_properties(client_header_check PROPERTIES C_STANDARD 99 C_STANDARD_REQUIRED ON
                      C_EXTENSIONS OFF CXX_STANDARD 17 CXX_EXTENSIONS OFF)
target_compile_options(client_header_check PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
  -Wcast-qual -Werror $<$<COMPILE_LANGUAGE:CXX>:-Wold-style-cast -Wzero-as-null-pointer-constant>)
target_link_libraries(caller_kit_test PRIVATE client_header_check)
configure_file(integration/cmd/update-tavelune.cmd ${CMAKE_BINARY_DIR}/update-tavelune.cmd COPYONLY)
configure_file(tests/windows/run-tests.cmd ${CMAKE_BINARY_DIR}/run-tests.cmd COPYONLY)

# The set of new files the recipes' tests update with.
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/update-set/Tavelune.exe
  COMMAND ${CMAKE_COMMAND} -DREPORTER=$<TARGET_FILE:argument_reporter>
          -DSET=${CMAKE_BINARY_DIR}/update-set -DWIDE_SET=${CMAKE_BINARY_DIR}/update-set-wide
          -P ${CMAKE_SOURCE_DIR}/cmake/update-set.cmake
  DEPENDS cmake/update-set.cmake argument_reporter VERBATIM)
add_custom_target(update_set ALL DEPENDS ${CMAKE_BINARY_DIR}/update-set/Tavelune.exe)
add_dependencies(caller_kit_test update_set)

# The NSIS include's installers, built with makensis where it is installed: the probe the test
# drives the include through, and the example updater for both targets with the set (where 32-bit
# x86 programs cannot run, as under a 64-bit-only Wine, the 32-bit one's test is skipped), and once
# more with the reporter in the helper's place and a set of one file, Tavelune.exe. makensis reads
# file names in the locale's encoding, and the set holds one outside ASCII.
find_program(MAKENSIS makensis)
if(MAKENSIS)
  set(nsis_outputs)
  set(set_of_one -DNEW_TAVELUNE_EXE=$<TARGET_FILE:argument_reporter>)
  set(whole_set -DNEW_FILES=${CMAKE_BINARY_DIR}/update-set-wide)
  foreach(installer IN ITEMS
          "nsis_probe tests/windows/nsis_probe.nsi amd64-unicode tavelune-helper set_of_one"
          "example-updater integration/nsis/example-updater.nsi amd64-unicode tavelune-helper whole_set"
          "example-updater-x86 integration/nsis/example-updater.nsi x86-unicode tavelune-helper whole_set"
          "example-updater-scripted integration/nsis/example-updater.nsi amd64-unicode argument_reporter set_of_one")
    separate_arguments(installer)
    list(GET installer 0 name)
    list(GET installer 1 script)
    list(GET installer 2 target)
    list(GET installer 3 helper)
    list(GET installer 4 files)
    add_custom_command(
      OUTPUT ${CMAKE_BINARY_DIR}/${name}.exe
      COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 ${MAKENSIS} -V2 -WX "-XTarget ${target}"
              "-X!addincludedir \"${CMAKE_SOURCE_DIR}/integration/nsis\""
              -DOUTFILE=${CMAKE_BINARY_DIR}/${name}.exe -DHELPER_EXE=$<TARGET_FILE:${helper}>
              -DENGINE_EXE=$<TARGET_FILE:tavelune-update> ${${files}} ${CMAKE_SOURCE_DIR}/${script}
      DEPENDS ${script} integration/nsis/TaveluneHelper.nsh tavelune-helper tavelune-update
              argument_reporter ${CMAKE_BINARY_DIR}/update-set/Tavelune.exe
      VERBATIM)
    list(APPEND nsis_outputs ${CMAKE_BINARY_DIR}/${name}.exe)
  endforeach()
  add_custom_target(nsis_installers ALL DEPENDS ${nsis_outputs})
  add_dependencies(caller_kit_test nsis_installers)
endif()

# The example product of the Windows Installer action, built with wixl where it is installed: the
# first version, with the stand-in as Tavelune.exe; a major upgrade of it, as it is, with the
# immediate check taken out, and with the older version removed right after InstallValidate; the
# first version rebuilt with the second one's files; and a product of another shape with the block
# pasted in, once as it stands and once as the README says for Tavelune in bin\, without the
# immediate check.
find_program(WIXL wixl)
if(WIXL)
  file(READ integration/msi/example-product.wxs example_product)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               integration/msi/example-product.wxs tests/windows/msi-another-shape.wxs.in)
  # Each edit must change the text, or the package would test the example as it is.
  function(edited_product output text pattern replacement)
    string(REGEX REPLACE "${pattern}" "${replacement}" edited "${text}")
    if(edited STREQUAL text)
      message(FATAL_ERROR "example-product.wxs has nothing that matches ${pattern}")
    endif()
    set(${output} "${edited}" PARENT_SCOPE)
  endfunction()
  set(immediate_check "\n[^\n]*<Custom Action=\"TaveluneCheck\"[^\n]*")
  edited_product(script_only "${example_product}" "${immediate_check}" "")
  edited_product(early_removal "${example_product}" "<RemoveExistingProducts Sequence=\"6601\"/>"
                 "<RemoveExistingProducts Sequence=\"1401\"/>")
  string(REGEX MATCH "    <!-- Copy from here.*<!-- To here. -->" TAVELUNE_BLOCK "${example_product}")
  configure_file(tests/windows/msi-another-shape.wxs.in another-shape-as-pasted.wxs @ONLY)
  edited_product(TAVELUNE_BLOCK "${TAVELUNE_BLOCK}" "${immediate_check}" "")
  edited_product(TAVELUNE_BLOCK "${TAVELUNE_BLOCK}" "\\[INSTALLDIR\\]Tavelune.exe"
                 "[INSTALLFOLDER]bin\\\\Tavelune.exe")
  configure_file(tests/windows/msi-another-shape.wxs.in another-shape-in-bin.wxs @ONLY)
  file(WRITE ${CMAKE_BINARY_DIR}/example-product-script-only.wxs "${script_only}")
  file(WRITE ${CMAKE_BINARY_DIR}/example-product-early-removal.wxs "${early_removal}")
  file(WRITE ${CMAKE_BINARY_DIR}/msi-files-1/Tavelune.dat "old\n")
  file(WRITE ${CMAKE_BINARY_DIR}/msi-files-2/Tavelune.dat "new\n")
  set(msi_outputs)
  set(as_shipped ${CMAKE_SOURCE_DIR}/integration/msi/example-product.wxs)
  foreach(package IN ITEMS "tavelune-1 1 1.0.0 stand_in as_shipped"
                           "tavelune-2 2 1.1.0 argument_reporter as_shipped"
                           "tavelune-1-rebuilt 2 1.0.0 argument_reporter as_shipped"
                           "tavelune-2-script-only 2 1.1.0 argument_reporter example-product-script-only"
                           "tavelune-2-early-removal 2 1.1.0 argument_reporter example-product-early-removal"
                           "another-shape-as-pasted 1 1.0.0 stand_in another-shape-as-pasted"
                           "another-shape-in-bin 1 1.0.0 stand_in another-shape-in-bin")
    separate_arguments(package)
    list(GET package 0 name)
    list(GET package 1 files)
    list(GET package 2 version)
    list(GET package 3 tavelune)
    list(GET package 4 source)
    if(DEFINED ${source})
      set(source ${${source}})
    else()
      set(source ${CMAKE_BINARY_DIR}/${source}.wxs)
    endif()
    # wixl takes the sources' paths relative to the folder it runs in.
    add_custom_command(
      OUTPUT ${CMAKE_BINARY_DIR}/${name}.msi
      COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${tavelune}> msi-files-${files}/Tavelune.exe
      COMMAND ${WIXL} -a x64 -D CheckDll=tavelune-msi-check.dll -D Files=msi-files-${files}
              -D Version=${version} -o ${name}.msi ${source}
      DEPENDS ${source} tavelune-msi-check ${tavelune}
      WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
      VERBATIM)
    list(APPEND msi_outputs ${CMAKE_BINARY_DIR}/${name}.msi)
  endforeach()
  add_custom_target(msi_packages ALL DEPENDS ${msi_outputs})
  add_dependencies(caller_kit_test msi_packages)
endif()
target_link_libraries(caller_kit_test PRIVATE shell32)

# What the test bundle holds beside the helper and the test programs: everything they start.
set(TAVELUNE_TEST_BUNDLE_FILES stand_in.exe argument_reporter.exe file_size_limit.exe
    tavelune-update.exe update-tavelune.cmd update-set)
add_dependencies(image_test tavelune-msi-check)
list(APPEND TAVELUNE_TEST_BUNDLE_FILES tavelune-msi-check.dll)
if(WIXL)
  list(APPEND TAVELUNE_TEST_BUNDLE_FILES tavelune-1.msi tavelune-2.msi tavelune-1-rebuilt.msi
       tavelune-2-script-only.msi tavelune-2-early-removal.msi another-shape-as-pasted.msi
       another-shape-in-bin.msi)
endif()
if(MAKENSIS)
  list(APPEND TAVELUNE_TEST_BUNDLE_FILES nsis_probe.exe example-updater.exe example-updater-x86.exe
       example-updater-scripted.exe)
endif()

# Run by hand through scripts/bench, not by the test suite.
add_executable(bench_driver bench/bench_driver.cpp)
target_link_libraries(bench_driver PRIVATE windows_test_support)
target_link_options(bench_driver PRIVATE -municode -static)
add_dependencies(bench_driver tavelune-helper floor stand_in)
# The copy that flushes each file, which scripts/bench-recipes measures the update engine against.
add_executable(flushing_copy bench/flushing_copy.cpp)
target_link_options(flushing_copy PRIVATE -municode -static)

# Signing a copy of the helper, on the build machine (needs openssl and osslsigncode).
if(CMAKE_CROSSCOMPILING)
  add_test(NAME signing_test
           COMMAND ${CMAKE_SOURCE_DIR}/tests/signing/sign_test.sh ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR})
  set_property(TEST signing_test PROPERTY TIMEOUT 600)
endif()
