# The Windows executable: a console program with wmain, bound at load to KERNEL32, USER32 and
# msvcrt.dll only. MinGW's own printf family is left out so that fwprintf is msvcrt's.
target_compile_definitions(tool_options INTERFACE
  UNICODE _UNICODE WIN32_LEAN_AND_MEAN __USE_MINGW_ANSI_STDIO=0)

# How a shipped image is made: small, stripped, with ASLR (64-bit) and DEP, and reproducible (no
# link timestamp, no build folder in any path), with MinGW's runtime linked in statically.
add_library(windows_image_options INTERFACE)
target_compile_options(windows_image_options INTERFACE
  -Os -ffunction-sections -fdata-sections
  -ffile-prefix-map=${CMAKE_SOURCE_DIR}/= -ffile-prefix-map=${CMAKE_BINARY_DIR}/=)
target_link_options(windows_image_options INTERFACE
  -municode -static -s -Wl,--gc-sections -Wl,--no-insert-timestamp
  -Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--nxcompat)
target_link_libraries(tool_options INTERFACE windows_image_options)

add_executable(tavelune-helper app/main.cpp)
target_link_libraries(tavelune-helper PRIVATE instance_check notice tool_options)

# The floor the helper is measured against: built the same way, bound to the same three DLLs,
# and doing nothing.
add_executable(floor bench/floor.cpp)
target_link_libraries(floor PRIVATE tool_options)

# The Windows Installer action: a DLL whose only exports are its two entry points, bound at load to
# KERNEL32, msi.dll and msvcrt.dll, and built like the helper.
add_library(tavelune-msi-check SHARED msi_action/tavelune_check.cpp)
set_target_properties(tavelune-msi-check PROPERTIES PREFIX "")
target_link_libraries(tavelune-msi-check PRIVATE instance_check tool_options msi)

# The update engine: a console program built like the helper, bound at load to KERNEL32 and
# msvcrt.dll only; it asks the helper beside it through the caller kit's header.
add_executable(tavelune-update
  update_engine/main.cpp update_engine/update_files.cpp update_engine/swap.cpp
  update_engine/journal.cpp update_engine/legacy_marker.cpp update_engine/file_list.cpp
  update_engine/file_steps.cpp update_engine/command_line.cpp)
target_include_directories(tavelune-update PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(tavelune-update PRIVATE tool_options)
