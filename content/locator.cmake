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
cx_add_probe(locator_probe SOURCES locator_probe.cpp LIBS cx_content)

cx_add_test(content_tests LIBS cx_content SOURCES
  footer_test.cpp
  piggyback_test.cpp
)

# The Windows probe, packed and then code-signed, run under Wine by a host-side script.
# bash is not a target, so CTest runs the script directly rather than through Wine.
if(WIN32 AND CX_TESTING)
  add_test(NAME signed_probe_wine
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/signed_probe_test.sh $<TARGET_FILE:locator_probe>)
  set_tests_properties(signed_probe_wine PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600)
endif()
