# The runner: its start-up logic as the library cx_app, and the program contentexe.
cx_library(cx_app
  SOURCES
    browser_command.cpp
    command_line.cpp
    control_entries.cpp
    server_record.cpp
    trace_hook.cpp
  PLATFORM
    browser
    instance_lock
    server_registry
    shell_platform
  DEPS cx_utils
)
if(NOT WIN32)
  cx_sources(cx_app runtime_folder_posix.cpp)
endif()

cx_add_test(app_tests LIBS cx_app SOURCES
  browser_command_test.cpp
  command_line_test.cpp
  control_entries_test.cpp
  server_record_test.cpp
)
