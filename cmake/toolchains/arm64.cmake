# 64-bit ARM (Pi 5, Jetson Orin, Radxa) with Debian's aarch64-linux-gnu cross compiler.
set(QUARVEL_CROSS_TRIPLET aarch64-linux-gnu)
set(QUARVEL_CROSS_PROCESSOR aarch64)
set(QUARVEL_CROSS_QEMU qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/DebianCross.cmake)
