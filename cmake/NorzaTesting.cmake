# Test helpers shared by every folder.
#
# Windows test programs run under Wine through CMAKE_CROSSCOMPILING_EMULATOR
# (cmake/wine-run): a scratch prefix inside the build folder, one wineserver
# and one virtual display for the whole ctest run, started and stopped by the
# wine-session fixture below. Where the machine runs no 32-bit code, wine-run
# exits 77 for what needs it (the 32-bit build's programs, in either prefix)
# and ctest reports those entries as skipped; CTest runs the dependents of a
# skipped fixture setup, and they skip themselves.

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
  # The users' Windows is 64-bit: the 32-bit build's end-to-end tests run
  # again in a 64-bit prefix, where the programs are 32-bit processes on
  # 64-bit Windows. Those tests are named <test>.wow64.
  if(NORZA_WINE_ARCH STREQUAL "win32")
    set(NORZA_WINE_PREFIX64 "${CMAKE_BINARY_DIR}/wineprefix64")
  endif()
  # wine-run's exit code for "needs 32-bit code, which this machine does not run".
  set(NORZA_WINE_SKIPPED 77)
endif()

# wine-session-start/-stop for the prefix of `arch` (fixture `fixture`).
function(_norza_wine_fixture)
  cmake_parse_arguments(F "WOW64" "PREFIX;ARCH;FIXTURE;SUFFIX;LABELS" "" ${ARGN})
  if(NOT F_PREFIX)
    set(F_PREFIX ${NORZA_WINE_PREFIX})
    set(F_ARCH ${NORZA_WINE_ARCH})
    set(F_FIXTURE wine)
    set(F_LABELS "unit;e2e")
  endif()
  get_property(done GLOBAL PROPERTY NORZA_WINE_FIXTURE_${F_FIXTURE})
  if(done)
    return()
  endif()
  set_property(GLOBAL PROPERTY NORZA_WINE_FIXTURE_${F_FIXTURE} ON)
  set(wow64 "")
  if(F_WOW64)
    set(wow64 --wow64)
  endif()
  add_test(NAME wine-session-start${F_SUFFIX}
           COMMAND ${NORZA_WINE_RUN} --prefix ${F_PREFIX} --arch ${F_ARCH} ${wow64} --start)
  add_test(NAME wine-session-stop${F_SUFFIX}
           COMMAND ${NORZA_WINE_RUN} --prefix ${F_PREFIX} --arch ${F_ARCH} ${wow64} --stop)
  set_tests_properties(wine-session-start${F_SUFFIX} PROPERTIES FIXTURES_SETUP ${F_FIXTURE} LABELS "${F_LABELS}"
    SKIP_RETURN_CODE ${NORZA_WINE_SKIPPED})
  set_tests_properties(wine-session-stop${F_SUFFIX} PROPERTIES FIXTURES_CLEANUP ${F_FIXTURE} LABELS "${F_LABELS}"
    SKIP_RETURN_CODE ${NORZA_WINE_SKIPPED})
endfunction()

# For an e2e test of the 32-bit build: the same test in the 64-bit prefix.
function(_norza_wow64_twin name)
  cmake_parse_arguments(T "" "LABEL;TIMEOUT" "COMMAND;ENVIRONMENT" ${ARGN})
  if(NOT NORZA_WINE_PREFIX64 OR NOT T_LABEL STREQUAL "e2e")
    return()
  endif()
  _norza_wine_fixture(WOW64 PREFIX ${NORZA_WINE_PREFIX64} ARCH win64 FIXTURE wine64 SUFFIX .wow64 LABELS "e2e;wow64")
  add_test(NAME ${name}.wow64 COMMAND ${T_COMMAND})
  set_tests_properties(${name}.wow64 PROPERTIES LABELS "e2e;wow64" TIMEOUT ${T_TIMEOUT}
    FIXTURES_REQUIRED wine64 RESOURCE_LOCK wineprefix64 SKIP_RETURN_CODE ${NORZA_WINE_SKIPPED})
  if(T_ENVIRONMENT)
    set_tests_properties(${name}.wow64 PROPERTIES ENVIRONMENT "${T_ENVIRONMENT}")
  endif()
endfunction()

# norza_add_test(<target> LABEL host|unit|e2e [ARGS ...] [TIMEOUT s] [SERIAL] [ENVIRONMENT VAR=value ...])
# Adds <target> as a test. Windows tests share the Wine session fixture and
# run one at a time (they share one prefix and its registry).
function(norza_add_test target)
  cmake_parse_arguments(T "SERIAL" "LABEL;TIMEOUT;NAME" "ARGS;ENVIRONMENT" ${ARGN})
  if(NOT T_NAME)
    set(T_NAME ${target})
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${target} ${T_ARGS})
  set_tests_properties(${T_NAME} PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT})
  if(T_ENVIRONMENT)
    set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "${T_ENVIRONMENT}")
  endif()
  if(WIN32)
    _norza_wine_fixture()
    set_tests_properties(${T_NAME} PROPERTIES FIXTURES_REQUIRED wine RESOURCE_LOCK wineprefix
      SKIP_RETURN_CODE ${NORZA_WINE_SKIPPED})
    _norza_wow64_twin(${T_NAME} LABEL ${T_LABEL} TIMEOUT ${T_TIMEOUT} ENVIRONMENT ${T_ENVIRONMENT}
      COMMAND ${NORZA_WINE_RUN} --prefix ${NORZA_WINE_PREFIX64} --arch win64 $<TARGET_FILE:${target}> ${T_ARGS})
  endif()
endfunction()

# A test that runs a command (for scripts driving shipped binaries). WINE:
# the command runs Windows programs (through $NORZA_WINE_RUN), so it needs the
# Wine session, and for the 32-bit build runs in the 64-bit prefix too.
function(norza_add_command_test name)
  cmake_parse_arguments(T "WINE" "LABEL;TIMEOUT" "COMMAND" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${name} COMMAND ${T_COMMAND})
  set_tests_properties(${name} PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT})
  if(WIN32 AND T_WINE)
    _norza_wine_fixture()
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine RESOURCE_LOCK wineprefix
      SKIP_RETURN_CODE ${NORZA_WINE_SKIPPED} ENVIRONMENT "NORZA_WINE_RUN=${NORZA_WINE_RUN};NORZA_WINE_PREFIX=${NORZA_WINE_PREFIX};NORZA_WINE_ARCH=${NORZA_WINE_ARCH}")
    _norza_wow64_twin(${name} LABEL ${T_LABEL} TIMEOUT ${T_TIMEOUT} COMMAND ${T_COMMAND}
      ENVIRONMENT "NORZA_WINE_RUN=${NORZA_WINE_RUN};NORZA_WINE_PREFIX=${NORZA_WINE_PREFIX64};NORZA_WINE_ARCH=win64")
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
