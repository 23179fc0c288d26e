# Shared build helpers: warnings, sanitizers, GoogleTest, test registration.

macro(pellumin_setup_compiler)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    add_compile_options(-Wall -Wextra -Wno-unused-parameter)
  endif()
  if(PELLUMIN_SANITIZE AND NOT WIN32)
    string(REPLACE ";" "," _pellumin_san "${PELLUMIN_SANITIZE}")
    add_compile_options(-fsanitize=${_pellumin_san} -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=${_pellumin_san})
  endif()
  if(WIN32)
    add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  endif()
endmacro()

# GoogleTest: the system package natively; built from the Debian source
# package (/usr/src/googletest) with the cross compiler for Windows.
macro(pellumin_find_gtest)
  if(WIN32)
    set(PELLUMIN_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    add_subdirectory(${PELLUMIN_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    if(NOT TARGET GTest::gtest_main)
      add_library(GTest::gtest ALIAS gtest)
      add_library(GTest::gtest_main ALIAS gtest_main)
      add_library(GTest::gmock ALIAS gmock)
    endif()
  else()
    find_package(GTest REQUIRED)
  endif()
endmacro()

# One ctest entry per test program (a Wine start costs about a second, so the
# Windows programs are not split per test case). CMAKE_CROSSCOMPILING_EMULATOR
# makes ctest run them through Wine.
function(pellumin_add_test_program name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  # The timeout turns a hang (say, a Windows program whose wineserver went
  # away) into a failure instead of a stalled run.
  set_tests_properties(${name} PROPERTIES
    WORKING_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}
    ENVIRONMENT "WINEDEBUG=-all"
    LABELS unit
    TIMEOUT 600)
endfunction()

# A check that a shell script runs against the built tree (end to end, load,
# registry round trip, DLL checks), registered with ctest under a label so
# that "ctest -L e2e" runs one kind:
#   pellumin_add_script_test(NAME n LABEL l [TIMEOUT s] COMMAND script args...)
# The script runs with bash from the build's bin folder; ctest's timeout
# (default 900 s) ends one that hangs.
function(pellumin_add_script_test)
  cmake_parse_arguments(ARG "" "NAME;LABEL;TIMEOUT" "COMMAND" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 900)
  endif()
  add_test(NAME ${ARG_NAME} COMMAND bash ${ARG_COMMAND})
  set_tests_properties(${ARG_NAME} PROPERTIES
    WORKING_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}
    LABELS ${ARG_LABEL}
    TIMEOUT ${ARG_TIMEOUT})
endfunction()
