# Static checks of the Windows DLL, read as a file with the pefile library:
# they need no Wine, so they run on every machine, on the very DLL that ships.

# Debian's python3-pefile belongs to the system's Python, whichever other
# Python comes first on the PATH.
find_program(TAMBERLO_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
find_program(TAMBERLO_PYTHON NAMES python3)
execute_process(COMMAND ${TAMBERLO_PYTHON} -c "import pefile"
  RESULT_VARIABLE pefile_missing OUTPUT_QUIET ERROR_QUIET)
if(pefile_missing)
  message(FATAL_ERROR "The DLL checks need Python's pefile (Debian's python3-pefile), "
    "which scripts/setup.sh installs; ${TAMBERLO_PYTHON} cannot import it.")
endif()

set(check_dll ${TAMBERLO_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/check_dll.py)
add_test(NAME windows.module_is_a_pe32_dll_exporting_only_the_descriptor
  COMMAND ${check_dll} headers $<TARGET_FILE:tamberlo>)
add_test(NAME windows.module_descriptor_and_server_list_read_from_the_file
  COMMAND ${check_dll} descriptor $<TARGET_FILE:tamberlo>)
add_test(NAME windows.module_is_stripped_with_a_debug_link_and_a_version_resource
  COMMAND ${check_dll} release $<TARGET_FILE:tamberlo> --version ${PROJECT_VERSION})

# The release package made afresh, as the package target makes it, in a
# folder of the test's own; every check then runs on the DLL inside it.
add_test(NAME windows.package_holds_the_checked_module_an_install_note_and_the_license
  COMMAND ${CMAKE_COMMAND}
    -DCPACK=${CMAKE_CPACK_COMMAND}
    -DCONFIG=${CMAKE_BINARY_DIR}/CPackConfig.cmake
    -DOUTPUT=${CMAKE_CURRENT_BINARY_DIR}/package_check
    -DPACKAGE=Tamberlo-${PROJECT_VERSION}-win32.zip
    "-DCHECK=${check_dll}"
    -DVERSION=${PROJECT_VERSION}
    -P ${CMAKE_CURRENT_SOURCE_DIR}/check_package.cmake)
