# Cross build for 32-bit x86 Windows with the mingw-w64 toolchain whose
# threads are POSIX threads (std::thread and std::mutex need them):
#
#   cmake -S . -B build-windows -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
#
# Programs are console-subsystem executables that need no DLL beyond what
# Windows ships: the C++ runtime, libgcc and the thread library are linked in.
# Built programs run on this machine through Wine, when it is installed.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(mingw_prefix i686-w64-mingw32)
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

find_program(BASECONV_WINE wine)
if(BASECONV_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${BASECONV_WINE})
endif()
