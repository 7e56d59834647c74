# Real clients against the real server: curl, Python's http.client, headless Chromium,
# and the runner with its settings file. They drive external programs: POSIX only.
if(NOT WIN32)
  cx_add_test(clients_tests LIBS cx_testing cx_provider cx_http cx_zip cx_utils SOURCES
    clients_browser_test.cpp
    clients_settings_test.cpp
    clients_test.cpp
  )
  # The settings cases run the real runner and packer (the packer's folder comes later,
  # so only the runner is known here; the dependency is checked at generation).
  if(TARGET clients_tests AND TARGET contentexe)
    add_dependencies(clients_tests contentexe contentexe-pack)
  endif()
endif()
