# Cross-compiling for another Linux architecture with Debian's cross compilers
# (g++-TRIPLET), the tests run under qemu-user from that architecture's
# libraries in /usr/TRIPLET:
#   cmake -B build-arm64 --toolchain cmake/cross.cmake -DCROSS_TRIPLET=aarch64-linux-gnu
# The presets cross-arm64, cross-s390x and cross-i386 do this.
if(NOT CROSS_TRIPLET)
  message(FATAL_ERROR "Set CROSS_TRIPLET, for example -DCROSS_TRIPLET=aarch64-linux-gnu")
endif()
# try_compile reads this file again, and needs the triplet as well.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES CROSS_TRIPLET)

string(REGEX MATCH "^[^-]+" cross_processor "${CROSS_TRIPLET}")
# qemu names some processors its own way.
set(qemu_names "i686=i386" "powerpc64le=ppc64le")
set(cross_qemu ${cross_processor})
foreach(pair IN LISTS qemu_names)
  string(REPLACE "=" ";" pair "${pair}")
  list(GET pair 0 from)
  list(GET pair 1 to)
  if(cross_processor STREQUAL from)
    set(cross_qemu ${to})
  endif()
endforeach()

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${cross_processor})
set(CMAKE_LIBRARY_ARCHITECTURE ${CROSS_TRIPLET})
# GCC's cross compilers unless others are given; clang is pointed at the
# same target and libraries (-DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang).
if(NOT CMAKE_CXX_COMPILER)
  set(CMAKE_C_COMPILER ${CROSS_TRIPLET}-gcc)
  set(CMAKE_CXX_COMPILER ${CROSS_TRIPLET}-g++)
endif()
set(CMAKE_C_COMPILER_TARGET ${CROSS_TRIPLET})
set(CMAKE_CXX_COMPILER_TARGET ${CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH /usr/${CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
find_program(CROSS_QEMU qemu-${cross_qemu} REQUIRED)
# The loader is pointed at the cross libraries first: where that architecture's
# own (multiarch) libraries are installed as well, as packaging needs, qemu
# would otherwise find those under /lib/TRIPLET, and a loader of one build of
# the C library with the libc.so of another hangs or crashes.
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CROSS_QEMU};-L;/usr/${CROSS_TRIPLET};-E;LD_LIBRARY_PATH=/usr/${CROSS_TRIPLET}/lib)
