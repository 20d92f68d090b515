# The 32-bit x86 Linux build: the stand-in host in the shape of the Windows
# DLL, so that it can load the DLL itself through the PE32 loader (pe32/).
# Debian's g++-multilib compiles it; where this machine cannot run 32-bit
# programs, they run under qemu's i386 emulator (cmake/i386-emulator.cmake).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

# As the DLL is built: doubles computed as doubles, in SSE2 registers, not
# with the x87 unit's wider intermediates, which put keys that sit on a frame
# boundary on the frame before. Every function realigns its stack on entry,
# since the DLL calls in with the 4-byte alignment Windows code keeps. File
# offsets are 64 bits wide, or reading a folder fails on large file systems.
set(TAMBERLO_I386_FLAGS "-m32 -msse2 -mfpmath=sse -mstackrealign -D_FILE_OFFSET_BITS=64")
set(CMAKE_C_FLAGS_INIT "${TAMBERLO_I386_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${TAMBERLO_I386_FLAGS}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
