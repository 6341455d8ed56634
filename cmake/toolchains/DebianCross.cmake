# Cross-compiling with a Debian cross toolchain, tests run under qemu-user (shared part).
# The including file sets QUARVEL_CROSS_TRIPLET (e.g. aarch64-linux-gnu), QUARVEL_CROSS_PROCESSOR
# and QUARVEL_CROSS_QEMU (e.g. qemu-aarch64-static).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${QUARVEL_CROSS_PROCESSOR})

set(CMAKE_C_COMPILER ${QUARVEL_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${QUARVEL_CROSS_TRIPLET}-g++)

# QUARVEL_TARGET_ROOT (optional): a directory with target packages unpacked into it, such as
# Debian's python3 and numpy for the target (scripts/arm-python-test.sh makes one). It is
# searched besides the cross libc and is the root programs run in.
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUARVEL_TARGET_ROOT)
set(CMAKE_FIND_ROOT_PATH /usr/${QUARVEL_CROSS_TRIPLET} ${QUARVEL_TARGET_ROOT})
set(CMAKE_LIBRARY_ARCHITECTURE ${QUARVEL_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every target program (tests, try_run, test discovery) runs under qemu-user, with the cross
# libc's directory (or the target root) as the root where it finds its loader and libraries.
find_program(QUARVEL_CROSS_EMULATOR ${QUARVEL_CROSS_QEMU} REQUIRED)
if(QUARVEL_TARGET_ROOT)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUARVEL_CROSS_EMULATOR} -L ${QUARVEL_TARGET_ROOT})
else()
  # The cross libc's directory comes first for the target's loader too: on a host that also
  # has the target's multiarch libc (dpkg --add-architecture, as cross package builds need),
  # the loader would otherwise take that one from /lib/<triplet> beside the cross toolchain's
  # own loader, and a version apart they crash together.
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUARVEL_CROSS_EMULATOR} -L /usr/${QUARVEL_CROSS_TRIPLET}
      -E LD_LIBRARY_PATH=/usr/${QUARVEL_CROSS_TRIPLET}/lib)
endif()

# Nothing the host installed can be linked into a target program: GoogleTest is built from
# Debian's sources, the Python module needs a target root, the benchmarks are left out.
set(QUARVEL_GOOGLETEST_SOURCE_DIR /usr/src/googletest/googletest CACHE PATH
    "GoogleTest sources built into the tree for the target")
