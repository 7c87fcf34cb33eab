# Cross build for 64-bit x86 Windows (cmake/mingw.cmake says how), run by
# Wine's 64-bit loader (package wine64), which needs no 32-bit support from
# the machine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(mingw_prefix x86_64-w64-mingw32)
set(mingw_wine wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
