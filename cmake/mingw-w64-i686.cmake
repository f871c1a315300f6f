# Cross build for 32-bit Windows with MinGW-w64. The posix flavour gives std::thread; libgcc and
# libstdc++ are linked statically so Tolvak.ocx needs no runtime DLLs beyond the system's.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(TOLVAK_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${TOLVAK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOLVAK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOLVAK_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TOLVAK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")

# Test programs and the type-library builder run under Wine on the build machine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
