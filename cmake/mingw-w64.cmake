# Shared by the two MinGW-w64 toolchain files, which set TOLVAK_MINGW_ARCH (i686 or x86_64) first.
# The posix flavour gives std::thread; libgcc and libstdc++ are linked statically so Tolvak.ocx
# needs no runtime DLLs beyond the system's.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TOLVAK_MINGW_ARCH})

set(TOLVAK_MINGW_PREFIX ${TOLVAK_MINGW_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${TOLVAK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOLVAK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOLVAK_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TOLVAK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No link time in the PE header: two builds of one source give the same bytes.
set(TOLVAK_MINGW_LINK "-static-libgcc -static-libstdc++ -static -Wl,--no-insert-timestamp")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${TOLVAK_MINGW_LINK}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${TOLVAK_MINGW_LINK}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${TOLVAK_MINGW_LINK}")
