# What the Windows cross builds share; cmake/mingw-i686.cmake (32-bit x86) and
# cmake/mingw-x86_64.cmake (64-bit x86) name the target and include this:
#
#   cmake -S . -B build-windows -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
#
# The mingw-w64 toolchain is the one whose threads are POSIX threads
# (std::thread and std::mutex need them). Programs are console-subsystem
# executables that need no DLL beyond what Windows ships: the C++ runtime,
# libgcc and the thread library are linked in. Built programs run on this
# machine through Wine, when it is installed: BASECONV_WINE names the loader
# for the target's programs.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${mingw_prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_prefix}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_prefix}-windres)

# Headers, libraries and packages come from the target's tree, never from the
# host's (GoogleTest is a cross-built one that GTest_DIR names); programs come
# from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -mconsole")

find_program(BASECONV_WINE NAMES ${mingw_wine} PATHS /usr/lib/wine)
if(BASECONV_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${BASECONV_WINE})
endif()
