# The content types (the one extension table, read by the provider and the packer) and
# the archive provider the server reads content from.
cx_library(cx_content_types SOURCES content_type.cpp DEPS cx_utils)
cx_library(cx_provider
  SOURCES
    folder_provider.cpp
    gzip_member.cpp
    http_zip_provider.cpp
    inflated_cache.cpp
    navigation_provider.cpp
  DEPS cx_content_types cx_http cx_json cx_zip cx_file cx_utils
)
cx_add_test(provider_tests LIBS cx_provider cx_testing SOURCES
  content_type_test.cpp
  folder_provider_test.cpp
  navigation_provider_test.cpp
  http_zip_provider_test.cpp
  inflated_cache_test.cpp
)
