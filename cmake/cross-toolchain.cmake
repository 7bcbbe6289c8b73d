# SPDX-License-Identifier: GPL-2.0-or-later
# Cross-building for an ARM board against a sysroot made by
# scripts/cross-deps.sh; the programs and tests run under qemu-user:
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/cross-toolchain.cmake \
#         -DLUMORA_CROSS_ARCH=arm64 -DLUMORA_CROSS_SYSROOT=$PWD/build-cross/sysroot-arm64
# LUMORA_CROSS_ARCH: arm64 or armhf (Debian's names).
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES LUMORA_CROSS_ARCH LUMORA_CROSS_SYSROOT)
if(NOT LUMORA_CROSS_ARCH OR NOT LUMORA_CROSS_SYSROOT)
  message(FATAL_ERROR "cross-toolchain.cmake needs -DLUMORA_CROSS_ARCH=arm64|armhf and -DLUMORA_CROSS_SYSROOT=DIR")
endif()
if(LUMORA_CROSS_ARCH STREQUAL "arm64")
  set(_triplet aarch64-linux-gnu)
  set(CMAKE_SYSTEM_PROCESSOR aarch64)
  set(_qemu qemu-aarch64)
elseif(LUMORA_CROSS_ARCH STREQUAL "armhf")
  set(_triplet arm-linux-gnueabihf)
  set(CMAKE_SYSTEM_PROCESSOR armv7l)
  set(_qemu qemu-arm)
else()
  message(FATAL_ERROR "unknown LUMORA_CROSS_ARCH ${LUMORA_CROSS_ARCH} (arm64 or armhf)")
endif()
set(_root ${LUMORA_CROSS_SYSROOT})

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${_triplet}-gcc)
set(CMAKE_CXX_COMPILER ${_triplet}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${_triplet})

# Libraries, headers and CMake packages from the sysroot only; programs
# (python3, cups-config, qpdf) from the host.
set(CMAKE_FIND_ROOT_PATH ${_root})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
foreach(lang C CXX)
  set(CMAKE_${lang}_STANDARD_INCLUDE_DIRECTORIES ${_root}/usr/include/${_triplet} ${_root}/usr/include)
endforeach()
set(_libdirs ${_root}/usr/lib/${_triplet} ${_root}/lib/${_triplet})
string(REPLACE ";" ":" _rpath_link "${_libdirs}")
set(_ldflags "-L${_root}/usr/lib/${_triplet} -L${_root}/lib/${_triplet} -Wl,-rpath-link,${_rpath_link}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_ldflags}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_ldflags}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_ldflags}")

# pkg-config reads the target's .pc files and prefixes their paths.
set(PKG_CONFIG_EXECUTABLE /usr/bin/pkg-config CACHE FILEPATH "pkg-config of the host" FORCE)
set(ENV{PKG_CONFIG_LIBDIR} "${_root}/usr/lib/${_triplet}/pkgconfig:${_root}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${_root}")
unset(ENV{PKG_CONFIG_PATH})

# ctest and test discovery run the target's programs with the target's
# dynamic loader and libraries.
find_program(LUMORA_QEMU ${_qemu} REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${LUMORA_QEMU} -L ${_root})
