# The Windows executable: a console program with wmain, bound at load to KERNEL32, USER32 and
# msvcrt.dll only. MinGW's own printf family is left out so that fwprintf is msvcrt's.
target_compile_definitions(tool_options INTERFACE
  UNICODE _UNICODE WIN32_LEAN_AND_MEAN __USE_MINGW_ANSI_STDIO=0)

add_executable(tavelune-helper app/main.cpp)
target_link_libraries(tavelune-helper PRIVATE instance_check notice tool_options)
target_link_options(tavelune-helper PRIVATE -municode -static)
