# Cross-compiling the portable core and its tests as 32-bit Linux code, run
# under qemu-i386: 32-bit size_t and pointer arithmetic get exercised by the
# same suite the native build runs.  GoogleTest, zlib and libjpeg for it are
# built by scripts/setup into .deps/linux-i686.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
get_filename_component(_project_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_FIND_ROOT_PATH /usr/i686-linux-gnu "${_project_root}/.deps/linux-i686")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# qemu-i386 finds the 32-bit loader and C library under the cross root.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386-static -L /usr/i686-linux-gnu)
