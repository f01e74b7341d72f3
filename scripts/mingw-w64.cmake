# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (posix threads).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(HOSTALLY_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${HOSTALLY_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HOSTALLY_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${HOSTALLY_MINGW}-windres)

# Appended, not set: Qt's own toolchain file adds its prefix to this list after
# loading this one.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${HOSTALLY_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
