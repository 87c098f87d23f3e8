# Cross-builds patcher.exe for 64-bit Windows with the mingw-w64 toolchain.
# Used by the "windows" preset; the tools are Debian's g++-mingw-w64-x86-64.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PATCHER_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PATCHER_MINGW_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${PATCHER_MINGW_TRIPLE}-g++)
set(CMAKE_RC_COMPILER ${PATCHER_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PATCHER_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained exe: the GCC runtime and libstdc++ linked in, so that it
# imports nothing but Windows' own DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
