# The runner: its start-up logic as the library cx_app, and the program contentexe.
cx_library(cx_app
  SOURCES
    browser_command.cpp
    command_line.cpp
    control_entries.cpp
    server_record.cpp
  DEPS cx_utils
)
cx_add_test(app_tests LIBS cx_app SOURCES
  browser_command_test.cpp
  command_line_test.cpp
  control_entries_test.cpp
  server_record_test.cpp
)
