# Decides, once per configuration of the Windows tree, whether this machine can
# run the Windows test programs under Wine, and sets the emulator that ctest
# and the test discovery run them with.
#
# Some kernels cannot run 32-bit Linux programs at all, and Wine's loader for
# 32-bit Windows programs is one. There the test programs are still built, but
# every suite that needs Wine is listed from its sources and reported by ctest
# as skipped, with the reason, instead of failing.
#
# Sets TAMBERLO_WINE_RUNS (TRUE or FALSE) and, when FALSE,
# TAMBERLO_WINE_SKIP_REASON.

option(TAMBERLO_USE_WINE
  "Run the Windows test programs under Wine where this machine can (OFF, or TAMBERLO_NO_WINE=1 in the environment, forces the path without Wine)"
  ON)

# The skip script's exit code; ctest counts a test that ends with it as skipped.
set(TAMBERLO_SKIP_RETURN_CODE 77)

set(TAMBERLO_WINE_RUNS FALSE)
set(no_wine_switch "$ENV{TAMBERLO_NO_WINE}")
if(NOT TAMBERLO_USE_WINE OR (no_wine_switch AND NOT no_wine_switch STREQUAL "0"))
  set(TAMBERLO_WINE_SKIP_REASON
    "Wine is switched off for this build (TAMBERLO_NO_WINE=1 or TAMBERLO_USE_WINE=OFF); the Windows suites need Wine")
else()
  # Debian's wine command is a script that picks the 32-bit loader when it is
  # there; the loader itself is what has to start, so it is asked directly.
  find_program(TAMBERLO_WINE_LOADER NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
  find_program(TAMBERLO_WINE_LOADER NAMES wine)
  if(NOT TAMBERLO_WINE_LOADER)
    set(TAMBERLO_WINE_SKIP_REASON "Wine is not installed; the Windows suites need Wine's 32-bit loader")
  else()
    execute_process(COMMAND ${TAMBERLO_WINE_LOADER} --version
      TIMEOUT 20
      RESULT_VARIABLE probe_result
      OUTPUT_VARIABLE probe_output
      ERROR_VARIABLE probe_error
      OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(probe_result EQUAL 0 AND probe_output MATCHES "^wine-")
      set(TAMBERLO_WINE_RUNS TRUE)
      message(STATUS "Wine runs here (${probe_output}): the Windows suites run under it")
    else()
      set(TAMBERLO_WINE_SKIP_REASON
        "this machine cannot run 32-bit programs; the Windows suites need Wine's 32-bit loader")
      string(STRIP "${probe_error}" probe_error)
      message(STATUS "Wine's loader ${TAMBERLO_WINE_LOADER} does not start here (${probe_result}: ${probe_error})")
    endif()
  endif()
endif()

set(reason_file ${CMAKE_BINARY_DIR}/wine-skip-reason.txt)
if(TAMBERLO_WINE_RUNS)
  file(REMOVE ${reason_file})
  set(CMAKE_CROSSCOMPILING_EMULATOR /bin/sh ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh
      ${CMAKE_BINARY_DIR}/wineprefix)
else()
  message(STATUS "The Windows suites will be reported as skipped: ${TAMBERLO_WINE_SKIP_REASON}")
  # The reason holds a semicolon, a list separator to CMake, so the skip script
  # reads it from a file rather than from its command line (the test command
  # prints it too).
  file(WRITE ${reason_file} "${TAMBERLO_WINE_SKIP_REASON}\n")
  set(CMAKE_CROSSCOMPILING_EMULATOR /bin/sh ${CMAKE_CURRENT_LIST_DIR}/wine-skip.sh
      ${TAMBERLO_SKIP_RETURN_CODE} ${reason_file})
endif()
