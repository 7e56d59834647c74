# The runner: its start-up logic as the library cx_app, and the program contentexe.
cx_library(cx_app
  SOURCES
    browser_command.cpp
    command_line.cpp
    control_entries.cpp
    port_choice.cpp
    run_state.cpp
    server_record.cpp
    trace_hook.cpp
  PLATFORM
    browser
    instance_lock
    server_registry
    shell_platform
  DEPS cx_settings cx_translation cx_utils
)
if(NOT WIN32)
  cx_sources(cx_app runtime_folder_posix.cpp)
  cx_add_test(app_posix_tests LIBS cx_app cx_testing SOURCES platform_posix_test.cpp)
endif()

cx_add_test(app_tests LIBS cx_app SOURCES
  browser_command_test.cpp
  command_line_test.cpp
  control_entries_test.cpp
  port_choice_test.cpp
  server_record_test.cpp
)

# The program: the start-up and the entry, linked with every subsystem it drives.
if(WIN32)
  enable_language(RC)
  add_executable(contentexe WIN32
    ${CMAKE_CURRENT_SOURCE_DIR}/main_win.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/startup.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/res/contentexe.rc)
  set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/res/contentexe.rc PROPERTIES
    OBJECT_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/res/contentexe.ico;${CMAKE_CURRENT_SOURCE_DIR}/res/contentexe.manifest;${CX_GENERATED_DIR}/contentexe_version.h")
  # wWinMain is the entry. Release runners carry no symbols: the packer copies the
  # runner into every program.
  target_link_options(contentexe PRIVATE -municode
                      $<$<OR:$<CONFIG:Release>,$<CONFIG:MinSizeRel>>:-s>)
  # imagehlp: MapFileAndCheckSumW.
  cx_add_test(app_e2e_win LIBS cx_app cx_testing imagehlp DEPENDS contentexe contentexe-pack
              SOURCES e2e_win_test.cpp)
else()
  add_executable(contentexe
    ${CMAKE_CURRENT_SOURCE_DIR}/main_posix.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/startup.cpp)
  cx_add_test(app_e2e LIBS cx_app cx_testing DEPENDS contentexe contentexe-pack
              SOURCES e2e_test.cpp)
endif()
cx_use_version(contentexe)
target_link_libraries(contentexe PRIVATE cx_app cx_provider cx_http cx_tray cx_zip cx_content
                                         cx_settings cx_translation cx_utils)
