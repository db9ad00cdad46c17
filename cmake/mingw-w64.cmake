# Cross build for 64-bit Windows with Debian's mingw-w64 (package g++-mingw-w64-x86-64), run
# under wine:
#
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#
# The -posix compilers are the ones whose C++ library has std::thread, std::mutex and
# std::condition_variable (over winpthreads). Everything is linked statically, so an .exe
# needs no DLL beside it and wine runs it as it is. The first run creates a wine prefix in the
# build directory, which takes about a minute once.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(BRISAL_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${BRISAL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BRISAL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${BRISAL_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${BRISAL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthreads linked in: no DLL of the compiler's beside the program.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test and benchmark programs run under wine with their own prefix in the build directory, so
# a build never touches the user's ~/.wine and a fresh machine needs nothing prepared.
set(CMAKE_CROSSCOMPILING_EMULATOR
    env WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix WINEDEBUG=-all wine)
