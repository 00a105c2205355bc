# Shared part of the mingw-w64 toolchain files; JOR_MINGW_TRIPLET names the target.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${JOR_MINGW_TRIPLET})

# By name: the unsuffixed compilers use the win32 thread model.
set(CMAKE_C_COMPILER ${JOR_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${JOR_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${JOR_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${JOR_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The program folder must run on a bare Windows: the C++ runtime, winpthread
# and zlib go into each exe, so it imports only system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(ZLIB_USE_STATIC_LIBS ON)

set(CMAKE_CROSSCOMPILING_EMULATOR wine)
