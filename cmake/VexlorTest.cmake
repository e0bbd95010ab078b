# vexlor_add_test(TARGET [NEEDS_WINDOW])
# Registers a GoogleTest program. Natively every test case becomes a CTest test; for Windows the
# program runs once under Wine, inside the build folder's Wine session (prefix, persistent
# wineserver and, when there is no DISPLAY, Xvfb), which CTest starts before and ends after.
include(GoogleTest)

set(VEXLOR_WINE_ROOT ${CMAKE_BINARY_DIR}/wine)

if(CMAKE_CROSSCOMPILING AND NOT TEST wine_session_start)
  add_test(NAME wine_session_start COMMAND ${CMAKE_SOURCE_DIR}/cmake/wine-run.sh --start)
  add_test(NAME wine_session_stop COMMAND ${CMAKE_SOURCE_DIR}/cmake/wine-run.sh --stop)
  set_tests_properties(wine_session_start PROPERTIES
    FIXTURES_SETUP wine_session ENVIRONMENT "VEXLOR_WINE_ROOT=${VEXLOR_WINE_ROOT}" TIMEOUT 300)
  set_tests_properties(wine_session_stop PROPERTIES
    FIXTURES_CLEANUP wine_session ENVIRONMENT "VEXLOR_WINE_ROOT=${VEXLOR_WINE_ROOT}")
endif()

function(vexlor_add_test target)
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${target} COMMAND ${target})
    set_tests_properties(${target} PROPERTIES
      FIXTURES_REQUIRED wine_session
      ENVIRONMENT "VEXLOR_WINE_ROOT=${VEXLOR_WINE_ROOT}"
      TIMEOUT 600)
  else()
    gtest_discover_tests(${target} TEST_PREFIX "${target}." DISCOVERY_TIMEOUT 60)
  endif()
endfunction()

# vexlor_add_wine_script_test(NAME COMMAND...)
# Registers a test command (a script that drives Windows programs through wine-run.sh) that
# needs the Wine session; nothing happens in a native build.
function(vexlor_add_wine_script_test name)
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${ARGN})
    set_tests_properties(${name} PROPERTIES
      FIXTURES_REQUIRED wine_session
      ENVIRONMENT "VEXLOR_WINE_ROOT=${VEXLOR_WINE_ROOT};WINE_RUN=${CMAKE_SOURCE_DIR}/cmake/wine-run.sh"
      TIMEOUT 600)
  endif()
endfunction()
