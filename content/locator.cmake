# The program-file footer and the locator of the appended archive.
cx_library(cx_content
  SOURCES
    footer.cpp
    piggyback.cpp
  DEPS
    cx_zip
    cx_file
    cx_utils
)

# Opens the archive appended to itself and prints what it found; the packer's tests and
# the signed-probe script run packed copies.
add_executable(locator_probe ${CMAKE_CURRENT_SOURCE_DIR}/locator_probe.cpp)
target_link_libraries(locator_probe PRIVATE cx_content)

cx_add_test(content_tests LIBS cx_content SOURCES
  footer_test.cpp
  piggyback_test.cpp
)

# The Windows probe, packed and then code-signed, run under Wine by a host-side script.
# bash is not a target, so CTest runs the script directly rather than through Wine.
if(WIN32 AND CONTENTEXE_TESTS)
  add_test(NAME signed_probe_wine
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/signed_probe_test.sh $<TARGET_FILE:locator_probe>)
  set_tests_properties(signed_probe_wine PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600)
endif()
