# Runs after CPack, before the package is moved out of its staging folder: writes SHA256SUMS into
# the package directory, in the form `sha256sum -c` reads, for the package, the test bundle, the
# helper, the update engine and the Windows Installer action, which the build and test-bundle.cmake
# leave in that same directory.
list(GET CPACK_PACKAGE_FILES 0 staged)
get_filename_component(packageName ${staged} NAME)
file(SHA256 ${staged} packageHash)
file(SHA256 ${CPACK_PACKAGE_DIRECTORY}/${CPACK_TAVELUNE_TEST_BUNDLE} bundleHash)
file(SHA256 ${CPACK_TAVELUNE_HELPER_EXE} helperHash)
file(SHA256 ${CPACK_TAVELUNE_MSI_ACTION} actionHash)
file(SHA256 ${CPACK_TAVELUNE_UPDATE_ENGINE} engineHash)
file(WRITE ${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS
     "${packageHash}  ${packageName}\n${bundleHash}  ${CPACK_TAVELUNE_TEST_BUNDLE}\n"
     "${helperHash}  tavelune-helper.exe\n${engineHash}  tavelune-update.exe\n"
     "${actionHash}  tavelune-msi-check.dll\n")
message(STATUS "Checksums written to ${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS")
