# Helpers shared by the folders' CMakeLists.

# cx_library(name SOURCES a.cpp ... [PLATFORM x ...] [DEPS lib ...]): a static library of
# the current folder. PLATFORM names x add x_win.cpp on Windows, x_posix.cpp elsewhere.
function(cx_library name)
  cmake_parse_arguments(L "" "" "SOURCES;PLATFORM;DEPS" ${ARGN})
  add_library(${name} STATIC)
  target_link_libraries(${name} PUBLIC cx_base ${L_DEPS})
  cx_sources(${name} ${L_SOURCES})
  cx_platform_sources(${name} ${L_PLATFORM})
endfunction()

# cx_sources(target a.cpp ...): adds sources of the current folder to a library.
function(cx_sources target)
  foreach(src IN LISTS ARGN)
    target_sources(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/${src})
  endforeach()
endfunction()

# cx_platform_sources(target name ...): name_win.cpp on Windows, name_posix.cpp elsewhere.
function(cx_platform_sources target)
  foreach(name IN LISTS ARGN)
    if(WIN32)
      target_sources(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/${name}_win.cpp)
    else()
      target_sources(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/${name}_posix.cpp)
    endif()
  endforeach()
endfunction()

# GoogleTest from the Debian source package, built with the same flags (and the same
# cross compiler) as the code under test.
macro(cx_setup_googletest)
  set(CX_GTEST_SRC "/usr/src/googletest" CACHE PATH "GoogleTest source tree")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  if(WIN32)
    # mingw's pthreads would otherwise make gtest want libwinpthread-1.dll.
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  endif()
  add_subdirectory(${CX_GTEST_SRC} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endmacro()

# cx_add_test(name SOURCES a_test.cpp ... LIBS cx_x ... [DEPENDS program ...]): one
# GoogleTest binary per subsystem, registered with CTest, in test builds only. DEPENDS
# names programs the test runs, built before it. Cross builds run it through
# CMAKE_CROSSCOMPILING_EMULATOR (Wine).
function(cx_add_test name)
  if(NOT CX_TESTING)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;DEPENDS" ${ARGN})
  add_executable(${name})
  foreach(src IN LISTS T_SOURCES)
    target_sources(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/${src})
  endforeach()
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(T_DEPENDS)
    add_dependencies(${name} ${T_DEPENDS})
  endif()
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "CX_SOURCE_DIR=${CMAKE_SOURCE_DIR};CX_BINARY_DIR=${CMAKE_BINARY_DIR}"
    TIMEOUT 900)
endfunction()

# cx_add_probe(name SOURCES a.cpp ... LIBS cx_x ...): a program that tests run (bin/name),
# built in test builds only.
function(cx_add_probe name)
  if(NOT CX_TESTING)
    return()
  endif()
  cmake_parse_arguments(P "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name})
  foreach(src IN LISTS P_SOURCES)
    target_sources(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/${src})
  endforeach()
  target_link_libraries(${name} PRIVATE ${P_LIBS})
endfunction()

# cx_add_fuzzer(name source.cpp LIBS ...): a libFuzzer target bin/fuzz_<name>.
function(cx_add_fuzzer name source)
  cmake_parse_arguments(F "" "" "LIBS" ${ARGN})
  add_executable(fuzz_${name} ${CMAKE_CURRENT_SOURCE_DIR}/${source})
  target_link_libraries(fuzz_${name} PRIVATE ${F_LIBS})
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
endfunction()

# cx_use_version(target): the target includes contentexe_version.h (CX_VERSION_TEXT,
# CX_VERSION_COMMIT, CX_VERSION_NUMBERS), rewritten by cx_version before it builds.
function(cx_use_version target)
  add_dependencies(${target} cx_version)
  target_include_directories(${target} PRIVATE ${CX_GENERATED_DIR})
endfunction()
