# ARMv7 Linux with 32-bit pointers, as on the module: the core's record layouts are checked by
# their static_asserts here, `char` is unsigned and flags travel in 8-bit arguments the ARM way.
# Tests run under qemu's user-mode emulator.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /usr/arm-linux-gnueabihf)
# Debian ships GoogleTest as sources for every architecture: build it for ARM with the suite.
set(TARVIK_GTEST_SOURCES /usr/src/googletest CACHE PATH "GoogleTest sources to build with the suite")
