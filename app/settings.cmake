# The settings store: registry values on Windows, a settings file on POSIX.
cx_library(cx_settings SOURCES settings.cpp PLATFORM settings DEPS cx_utils)
cx_add_test(settings_tests LIBS cx_settings SOURCES settings_test.cpp)
