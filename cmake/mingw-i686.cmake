# Cross build for the module's real target, 32-bit Windows, with Debian's
# i686-w64-mingw32 compilers; the programs built this way run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(TAMBERLO_MINGW_PREFIX i686-w64-mingw32)

# Debian ships each compiler in a win32-threads and a posix-threads variant.
# GoogleTest needs std::mutex, which GCC 12 has only in the posix variant; its
# thread library, winpthreads, is linked in statically like the rest of the
# runtime below.
find_program(CMAKE_C_COMPILER NAMES ${TAMBERLO_MINGW_PREFIX}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${TAMBERLO_MINGW_PREFIX}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${TAMBERLO_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TAMBERLO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Doubles are computed as doubles, in SSE2 registers, not with the x87 unit's
# wider intermediates: with those, 10/30 s at 30 frames per second comes out a
# hair below frame 10 and truncates to frame 9, unlike on every other build.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")

# Layout loads the module into a plain Windows process: the GCC and C++
# runtimes are linked in, so that the DLL needs only what every Windows has.
set(TAMBERLO_STATIC_RUNTIME "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${TAMBERLO_STATIC_RUNTIME}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${TAMBERLO_STATIC_RUNTIME}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${TAMBERLO_STATIC_RUNTIME}")

# Whether the test programs run under Wine is decided by cmake/wine.cmake,
# once per configuration of the tree rather than at every read of this file.
