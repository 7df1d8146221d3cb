# SPDX-License-Identifier: MIT
# What the Debian cross toolchain files share; they set KESTREL_CROSS_TRIPLET
# and CMAKE_SYSTEM_PROCESSOR first. The compiler is Debian's cross compiler
# (crossbuild-essential-ARCH); hidapi, GoogleTest and the C++ runtime are the
# target's own from Debian's multiarch packages (libhidapi-dev:ARCH, ...),
# found under /usr/lib/TRIPLET. Programs built for the target run here
# through qemu-user: directly when binfmt_misc knows the target (programs
# that the tests start), and through the emulator named below otherwise.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${KESTREL_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${KESTREL_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${KESTREL_CROSS_TRIPLET})

# pkg-config must look at the target's libraries only.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${KESTREL_CROSS_TRIPLET}/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTREL_QEMU})
