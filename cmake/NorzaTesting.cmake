# Test helpers shared by every folder.
#
# Windows test programs run under Wine through CMAKE_CROSSCOMPILING_EMULATOR
# (cmake/wine-run): a scratch prefix inside the build folder, one wineserver
# and one virtual display for the whole ctest run, started and stopped by the
# wine-session fixture below.

macro(norza_add_googletest)
  set(NORZA_GTEST_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(${NORZA_GTEST_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endmacro()

if(WIN32)
  set(NORZA_WINE_PREFIX "${CMAKE_BINARY_DIR}/wineprefix")
  set(NORZA_WINE_RUN "${CMAKE_SOURCE_DIR}/cmake/wine-run")
  set(CMAKE_CROSSCOMPILING_EMULATOR
      "${NORZA_WINE_RUN};--prefix;${NORZA_WINE_PREFIX};--arch;${NORZA_WINE_ARCH}"
      CACHE STRING "Runs Windows test programs under Wine" FORCE)
endif()

set(_norza_fixture_added OFF)
function(_norza_wine_fixture)
  get_property(done GLOBAL PROPERTY NORZA_WINE_FIXTURE)
  if(done)
    return()
  endif()
  set_property(GLOBAL PROPERTY NORZA_WINE_FIXTURE ON)
  add_test(NAME wine-session-start
           COMMAND ${NORZA_WINE_RUN} --prefix ${NORZA_WINE_PREFIX} --arch ${NORZA_WINE_ARCH} --start)
  add_test(NAME wine-session-stop
           COMMAND ${NORZA_WINE_RUN} --prefix ${NORZA_WINE_PREFIX} --arch ${NORZA_WINE_ARCH} --stop)
  set_tests_properties(wine-session-start PROPERTIES FIXTURES_SETUP wine LABELS "unit;e2e")
  set_tests_properties(wine-session-stop PROPERTIES FIXTURES_CLEANUP wine LABELS "unit;e2e")
endfunction()

# norza_add_test(<target> LABEL host|unit|e2e [ARGS ...] [TIMEOUT s] [SERIAL])
# Adds <target> as a test. Windows tests share the Wine session fixture and
# run one at a time (they share one prefix and its registry).
function(norza_add_test target)
  cmake_parse_arguments(T "SERIAL" "LABEL;TIMEOUT;NAME" "ARGS" ${ARGN})
  if(NOT T_NAME)
    set(T_NAME ${target})
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${target} ${T_ARGS})
  set_tests_properties(${T_NAME} PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT})
  if(WIN32)
    _norza_wine_fixture()
    set_tests_properties(${T_NAME} PROPERTIES FIXTURES_REQUIRED wine RESOURCE_LOCK wineprefix)
  endif()
endfunction()

# A test that runs a command (for scripts driving shipped binaries).
function(norza_add_command_test name)
  cmake_parse_arguments(T "" "LABEL;TIMEOUT" "COMMAND" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${name} COMMAND ${T_COMMAND})
  set_tests_properties(${name} PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT})
  if(WIN32)
    _norza_wine_fixture()
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine RESOURCE_LOCK wineprefix
      ENVIRONMENT "NORZA_WINE_RUN=${NORZA_WINE_RUN};NORZA_WINE_PREFIX=${NORZA_WINE_PREFIX};NORZA_WINE_ARCH=${NORZA_WINE_ARCH}")
  endif()
endfunction()

# The sources of <target> as absolute paths, for building the same code again
# with other flags (fuzzing instrumentation, an unsanitized benchmark).
function(norza_target_sources_abs target out_var)
  get_target_property(sources ${target} SOURCES)
  get_target_property(dir ${target} SOURCE_DIR)
  set(paths "")
  foreach(src IN LISTS sources)
    if(IS_ABSOLUTE ${src})
      list(APPEND paths ${src})
    else()
      list(APPEND paths ${dir}/${src})
    endif()
  endforeach()
  set(${out_var} ${paths} PARENT_SCOPE)
endfunction()
