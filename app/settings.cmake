# The settings store belongs to the support library.
cx_sources(cx_utils settings.cpp)
cx_platform_sources(cx_utils settings)
cx_add_test(settings_tests LIBS cx_utils SOURCES settings_test.cpp)
