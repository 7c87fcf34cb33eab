# Cross build for 32-bit x86 Windows (cmake/mingw.cmake says how). Debian's
# wine starts 32-bit programs with the 32-bit loader (package wine32).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(mingw_prefix i686-w64-mingw32)
set(mingw_wine wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
