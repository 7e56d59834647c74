# Real clients against the real server: curl, Python's http.client, headless Chromium,
# and the runner with its settings file. They drive external programs: POSIX only.
if(NOT WIN32)
  cx_add_test(clients_tests LIBS cx_provider cx_http cx_zip cx_utils SOURCES
    clients_browser_test.cpp
    clients_fixture.cpp
    clients_proxy.cpp
    clients_python_test.cpp
    clients_test.cpp
    test_client.cpp
  )
endif()
