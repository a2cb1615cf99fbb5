# Cross build for 64-bit Windows with Debian's mingw-w64 (the posix thread
# model, for std::thread and std::mutex). Used by scripts/build-windows.sh;
# the same file is the starting point for building Qt for the desktop program.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(DUNMERE_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${DUNMERE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${DUNMERE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${DUNMERE_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${DUNMERE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program runs on a bare Windows: no mingw DLL (libstdc++, libgcc,
# winpthread, zlib) is shipped beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(ZLIB_USE_STATIC_LIBS ON)
