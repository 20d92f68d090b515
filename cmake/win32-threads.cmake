# The DLLs that Layout loads link the C++ runtime of MinGW's win32 thread
# model, not the posix one that the Windows test programs need (GoogleTest
# wants std::mutex, which GCC 12 has only there).
#
# With the posix model a DLL cannot survive running out of memory: a posix
# lock (winpthreads) allocates its memory the first time it is taken, and the
# runtime's emergency store for exceptions takes its lock only once malloc has
# failed, so the lock's allocation fails, the failure is thrown, the throw
# needs the emergency store, and the two recurse until the stack overflows. A
# win32 lock is a Windows semaphore made when the lock is made, and taking it
# allocates nothing.
#
# The module's own code calls no thread function, so the runtime it is linked
# with decides alone; -no-pthread makes the link fail should anything need
# winpthreads again.

execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-libgcc-file-name
  OUTPUT_VARIABLE posix_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(posix_runtime_dir "${posix_libgcc}" DIRECTORY)
string(REGEX REPLACE "-posix$" "-win32" TAMBERLO_WIN32_THREADS_RUNTIME "${posix_runtime_dir}")
if(NOT EXISTS "${TAMBERLO_WIN32_THREADS_RUNTIME}/libstdc++.a")
  message(FATAL_ERROR "No win32-threads C++ runtime beside ${posix_runtime_dir} "
    "(Debian's g++-mingw-w64-i686 holds both)")
endif()

# Links the DLL <target> with the win32-threads runtime.
function(tamberlo_use_win32_threads target)
  target_link_directories(${target} BEFORE PRIVATE ${TAMBERLO_WIN32_THREADS_RUNTIME})
  target_link_options(${target} PRIVATE -no-pthread)
endfunction()
