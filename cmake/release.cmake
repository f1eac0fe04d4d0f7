# Installing and packaging the helper: `cmake --install` puts the executable, the update engine and
# the Windows Installer action under bin/, and the `package` target makes
# tavelune-helper-<version>-win64.zip with them, the README, the licence, the security notes and the
# caller kit; beside it the test bundle, tavelune-helper-<version>-win64-tests.zip, with the same
# images; and SHA256SUMS for both zips and the three images.

# Authenticode signing after the link, only when a certificate is given; the password is read from
# TAVELUNE_SIGNING_PASSWORD in the environment when the build runs.
set(TAVELUNE_SIGNING_CERTIFICATE "$ENV{TAVELUNE_SIGNING_CERTIFICATE}"
    CACHE FILEPATH "PKCS#12 file to sign the executable with; empty: leave it unsigned")
set(TAVELUNE_SIGNING_TIMESTAMP_URL "$ENV{TAVELUNE_SIGNING_TIMESTAMP_URL}"
    CACHE STRING "RFC 3161 time-stamping server for the signature; empty: none")
if(TAVELUNE_SIGNING_CERTIFICATE)
  foreach(image tavelune-helper tavelune-update tavelune-msi-check)
    add_custom_command(TARGET ${image} POST_BUILD
      COMMAND ${CMAKE_SOURCE_DIR}/scripts/sign-exe $<TARGET_FILE:${image}>
              ${TAVELUNE_SIGNING_CERTIFICATE} "${TAVELUNE_SIGNING_TIMESTAMP_URL}"
      VERBATIM)
  endforeach()
endif()

install(TARGETS tavelune-helper tavelune-update tavelune-msi-check RUNTIME DESTINATION bin)
install(FILES README.md LICENSE SECURITY.md DESTINATION .)
install(FILES integration/README.md DESTINATION integration)
install(FILES integration/msi/example-product.wxs DESTINATION integration/msi)
install(FILES integration/c/tavelune_helper_client.h DESTINATION integration/c)
install(FILES integration/nsis/TaveluneHelper.nsh integration/nsis/example-updater.nsi
        DESTINATION integration/nsis)
install(FILES integration/cmd/update-tavelune.cmd DESTINATION integration/cmd)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME tavelune-helper)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME tavelune-helper-${PROJECT_VERSION}-win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
# The package is written where the build leaves the executables, so that the scripts run after it
# find them there: the test bundle's, then the one that writes SHA256SUMS.
set(CPACK_TAVELUNE_HELPER_EXE ${CMAKE_BINARY_DIR}/tavelune-helper.exe)
set(CPACK_TAVELUNE_MSI_ACTION ${CMAKE_BINARY_DIR}/tavelune-msi-check.dll)
set(CPACK_TAVELUNE_UPDATE_ENGINE ${CMAKE_BINARY_DIR}/tavelune-update.exe)
set(CPACK_TAVELUNE_TEST_BUNDLE tavelune-helper-${PROJECT_VERSION}-win64-tests.zip)
set(CPACK_TAVELUNE_TEST_RUNNER ${CMAKE_SOURCE_DIR}/tests/windows/run-tests.cmd)
get_property(CPACK_TAVELUNE_TEST_PROGRAMS GLOBAL PROPERTY TAVELUNE_TEST_PROGRAMS)
set(CPACK_TAVELUNE_TEST_FILES ${TAVELUNE_TEST_BUNDLE_FILES})
set(CPACK_TAVELUNE_STRIP ${CMAKE_STRIP})
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/test-bundle.cmake
                             ${CMAKE_CURRENT_LIST_DIR}/write-checksums.cmake)
include(CPack)
