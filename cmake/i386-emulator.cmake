# Decides, once per configuration of the 32-bit tree, how its programs run:
# natively where this machine can run 32-bit programs, otherwise under qemu's
# i386 user-mode emulator, named here as the tree's cross-compiling emulator
# so that ctest and the test discovery run every program through it.
#
# The emulator is called by name and nothing else: no binfmt handler is ever
# registered, since one would make every 32-bit program seem to run natively,
# Wine's loader among them.

set(probe_dir ${CMAKE_BINARY_DIR}/i386-probe)
file(WRITE ${probe_dir}/probe.cpp "int main() { return 0; }\n")
try_compile(probe_built ${probe_dir}/build SOURCES ${probe_dir}/probe.cpp
  COPY_FILE ${probe_dir}/probe OUTPUT_VARIABLE probe_log)
if(NOT probe_built)
  message(FATAL_ERROR "Cannot build a 32-bit program (Debian's g++-multilib):\n${probe_log}")
endif()
execute_process(COMMAND ${probe_dir}/probe TIMEOUT 20
  RESULT_VARIABLE probe_result OUTPUT_QUIET ERROR_VARIABLE probe_error)
if(probe_result EQUAL 0)
  set(TAMBERLO_I386_EMULATOR "")
  message(STATUS "This machine runs 32-bit programs: the 32-bit tree's programs run natively")
else()
  find_program(TAMBERLO_QEMU_I386 qemu-i386)
  if(NOT TAMBERLO_QEMU_I386)
    message(FATAL_ERROR "This machine cannot run 32-bit programs (${probe_result}) and has no "
      "qemu-i386 (Debian's qemu-user, which scripts/setup.sh installs)")
  endif()
  execute_process(COMMAND ${TAMBERLO_QEMU_I386} ${probe_dir}/probe TIMEOUT 20
    RESULT_VARIABLE emulated_result OUTPUT_QUIET ERROR_QUIET)
  if(NOT emulated_result EQUAL 0)
    message(FATAL_ERROR "${TAMBERLO_QEMU_I386} cannot run a 32-bit program (${emulated_result})")
  endif()
  set(TAMBERLO_I386_EMULATOR ${TAMBERLO_QEMU_I386})
  message(STATUS "This machine cannot run 32-bit programs: the 32-bit tree's programs run under ${TAMBERLO_QEMU_I386}")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${TAMBERLO_I386_EMULATOR})

# How a person runs a program of this tree by hand, whatever the machine:
#   sh build/linux32/run-i386.sh build/linux32/apps/standin-cli build/windows/Tamberlo.p
if(TAMBERLO_I386_EMULATOR)
  set(how "under ${TAMBERLO_I386_EMULATOR}, since this machine cannot run 32-bit programs")
else()
  set(how "natively")
endif()
file(WRITE ${CMAKE_BINARY_DIR}/run-i386.sh
  "#!/bin/sh\n# Runs a 32-bit program of this tree ${how}.\nexec ${TAMBERLO_I386_EMULATOR} \"$@\"\n")
