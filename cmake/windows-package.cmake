# The module as Windows users receive it: a stripped Tamberlo.p carrying a
# version resource, its debug information in Tamberlo.p.debug beside it, and
# a zip made by CPack with the DLL, an install note and the license:
#   cmake --build --preset windows --target package

set(TAMBERLO_DESCRIPTION "Copies keyframed motion between items in LightWave Layout")
set(TAMBERLO_COPYRIGHT "Copyright (c) 2026 The Tamberlo developers")

configure_file(${PROJECT_SOURCE_DIR}/packaging/version.rc.in ${CMAKE_BINARY_DIR}/version.rc @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/INSTALL.txt ${CMAKE_BINARY_DIR}/INSTALL.txt @ONLY)

# Makes the module target <target> the DLL that ships; called where the target
# is made, since a build step can only be added there.
#
# The DLL is stripped where it is built, so the tests under Wine, the static
# checks and the package all meet the file that ships. Its debug information
# goes first into a file of its own, which the debug link names (with its
# checksum), so that a debugger can still symbolise a crash.
function(tamberlo_make_release_dll target)
  target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/version.rc)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE_NAME:${target}> $<TARGET_FILE_NAME:${target}>.debug
    COMMAND ${CMAKE_STRIP} --strip-all $<TARGET_FILE_NAME:${target}>
    COMMAND ${CMAKE_OBJCOPY} --add-gnu-debuglink=$<TARGET_FILE_NAME:${target}>.debug $<TARGET_FILE_NAME:${target}>
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
    COMMENT "Stripping $<TARGET_FILE_NAME:${target}>, its debug information kept beside it in $<TARGET_FILE_NAME:${target}>.debug"
    VERBATIM)
  install(FILES $<TARGET_FILE:${target}> DESTINATION .)
endfunction()

install(FILES ${CMAKE_BINARY_DIR}/INSTALL.txt DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Tamberlo)
set(CPACK_PACKAGE_VENDOR "The Tamberlo developers")
set(CPACK_PACKAGE_FILE_NAME Tamberlo-${PROJECT_VERSION}-win32)
# The zip unpacks into one folder of that name, not loose into the user's.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)
