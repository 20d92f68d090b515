# How the module's code is built, for every folder that holds some, and how
# a plug-in module file is made from it.

# Settings of every target that compiles module code: nothing leaves the
# module unless the descriptor exports it.
function(tamberlo_module_code target)
  set_target_properties(${target} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND NOT WIN32)
    # Unique symbols would pin the module in memory after dlclose, and then a
    # reloaded module would keep its old clipboard.
    target_compile_options(${target} PRIVATE -fno-gnu-unique)
  endif()
endfunction()

# Makes a plug-in module the host loads: Tamberlo.p in OUTPUT_DIRECTORY, built
# from the descriptor and SOURCES, exporting only _mod_descrip.
# ALLOW_UNDEFINED lets symbols stay for the loading program to resolve.
function(tamberlo_add_module target)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "ALLOW_UNDEFINED" "OUTPUT_DIRECTORY" "SOURCES")
  add_library(${target} MODULE ${PROJECT_SOURCE_DIR}/entry/descriptor.cpp ${ARG_SOURCES})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  tamberlo_module_code(${target})
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME Tamberlo
    PREFIX ""
    SUFFIX ".p"
    LIBRARY_OUTPUT_DIRECTORY ${ARG_OUTPUT_DIRECTORY})
  if(NOT WIN32)
    target_link_options(${target} PRIVATE
      -Wl,--version-script=${PROJECT_SOURCE_DIR}/entry/exports.map)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${PROJECT_SOURCE_DIR}/entry/exports.map)
    if(NOT ARG_ALLOW_UNDEFINED)
      target_link_options(${target} PRIVATE -Wl,--no-undefined)
    endif()
  else()
    # The .def file names the one export and the DLL name in the export
    # directory; without automatic exports nothing else is exported.
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/entry/tamberlo.def
      ${PROJECT_SOURCE_DIR}/entry/windows_runtime.cpp)
    target_link_options(${target} PRIVATE -Wl,--exclude-all-symbols)
    tamberlo_use_win32_threads(${target})
  endif()
endfunction()
