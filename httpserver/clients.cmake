# Real clients against the real server: curl, Python's http.client, headless Chromium,
# and the runner with its settings file (it runs the real runner and packer). They drive
# external programs: POSIX only.
if(NOT WIN32)
  cx_add_test(clients_tests LIBS cx_testing cx_provider cx_http cx_zip cx_utils
    DEPENDS contentexe contentexe-pack
    SOURCES
      clients_browser_test.cpp
      clients_settings_test.cpp
      clients_test.cpp
  )
endif()
