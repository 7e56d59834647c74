# The archive provider the server reads content from. The content-type table is compiled
# into cx_http, which needs it for every request; its tests live here.
cx_library(cx_provider
  SOURCES
    http_zip_provider.cpp
    inflated_cache.cpp
  DEPS cx_http cx_zip cx_utils
)
cx_add_test(provider_tests LIBS cx_provider SOURCES
  content_type_test.cpp
  http_zip_provider_test.cpp
  inflated_cache_test.cpp
)
