# 32-bit ARM, hard float (Raspberry Pi OS 32-bit, older Jetson images) with Debian's
# arm-linux-gnueabihf cross compiler: ARMv7-A with VFPv3-D16, NEON not assumed.
set(QUARVEL_CROSS_TRIPLET arm-linux-gnueabihf)
set(QUARVEL_CROSS_PROCESSOR armv7l)
set(QUARVEL_CROSS_QEMU qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/DebianCross.cmake)
