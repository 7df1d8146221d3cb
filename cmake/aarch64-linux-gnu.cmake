# SPDX-License-Identifier: MIT
# Cross-building for 64-bit ARM (Debian arm64) with Debian's cross toolchain:
#   cmake -S . -B build-arm64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
# scripts/deps --arm installs what it needs.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(KESTREL_CROSS_TRIPLET aarch64-linux-gnu)
set(KESTREL_DEB_ARCH arm64)
set(KESTREL_QEMU qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
