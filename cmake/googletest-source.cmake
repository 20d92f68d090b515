# GoogleTest built from Debian's sources by the tree that needs it: Debian's
# GoogleTest packages hold 64-bit Linux libraries only, and the Windows and
# the 32-bit Linux trees build for other targets.
set(TAMBERLO_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the cross builds")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${TAMBERLO_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

include(GoogleTest)
