# What the test suites need in the Windows cross build: GoogleTest compiled
# for the target, and a Wine prefix to run the test programs in where Wine runs
# (cmake/wine.cmake decides).

include(${CMAKE_CURRENT_LIST_DIR}/googletest-source.cmake)

# The Windows suites are named windows.* so that one ctest run can hold them
# beside the Linux suites of the same names.
if(TAMBERLO_WINE_RUNS)
  # A Wine prefix belongs to its build tree. It is made at build time, not by
  # a test, because the test list itself is read by running each program under
  # Wine when ctest starts, before any test could set the prefix up.
  set(TAMBERLO_WINE_STAMP ${CMAKE_BINARY_DIR}/wineprefix.stamp)
  add_custom_command(OUTPUT ${TAMBERLO_WINE_STAMP}
    COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} --make-prefix
    COMMAND ${CMAKE_COMMAND} -E touch ${TAMBERLO_WINE_STAMP}
    COMMENT "Making the Wine prefix for the test programs"
    VERBATIM)
  add_custom_target(wine_prefix ALL DEPENDS ${TAMBERLO_WINE_STAMP})

  # Every suite of this tree gets the prefix here, where it cannot be
  # forgotten; the first test list is read under a Wine that may still be
  # starting up, hence the longer wait.
  function(gtest_discover_tests target)
    _gtest_discover_tests(${target} ${ARGN} TEST_PREFIX windows. DISCOVERY_TIMEOUT 120)
  endfunction()
else()
  # Without Wine a program cannot list its own tests, so they are read from
  # its sources, under the names discovery would give them, and each is run
  # by the skip script. Sources must be added to a suite before this call.
  function(gtest_discover_tests target)
    get_target_property(sources ${target} SOURCES)
    gtest_add_tests(TARGET ${target} SOURCES ${sources} TEST_PREFIX windows. TEST_LIST suite_tests)
    set_tests_properties(${suite_tests} PROPERTIES SKIP_RETURN_CODE ${TAMBERLO_SKIP_RETURN_CODE})
  endfunction()
endif()
