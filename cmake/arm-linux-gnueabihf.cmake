# SPDX-License-Identifier: MIT
# Cross-building for 32-bit ARM with hardware floating point (Debian armhf)
# with Debian's cross toolchain:
#   cmake -S . -B build-armhf -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake
# scripts/deps --arm installs what it needs.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(KESTREL_CROSS_TRIPLET arm-linux-gnueabihf)
set(KESTREL_DEB_ARCH armhf)
set(KESTREL_QEMU qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
