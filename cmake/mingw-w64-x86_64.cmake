# Cross build for 64-bit Windows with MinGW-w64.
set(TOLVAK_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
