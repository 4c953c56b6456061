# Toolchain for the 32-bit Windows cross-build with Debian's mingw-w64 (i686-w64-mingw32).
#
#   cmake -S . -B build/windows/... -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
#
# The posix-threads compilers are used because FreeTDS and the C++ runtime's std::thread and
# std::mutex need them (the win32-threads flavour has no std::thread in gcc 12). Everything a
# program or DLL built with it needs from the compiler is linked in statically (libgcc,
# libstdc++, winpthreads), so what it makes imports Windows system DLLs only and is one file.
# CMAKE_CROSSCOMPILING_EMULATOR is not set here: the tests that run programs under wine give
# it on their own command line (scripts/windows/run).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(RONDEL_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${RONDEL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RONDEL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${RONDEL_MINGW_TRIPLET}-windres)

# The mingw-w64 headers and import libraries; programs (perl, gperf) still come from the
# build machine. Appended, so that a prefix given with -DCMAKE_FIND_ROOT_PATH (the cross-built
# FreeTDS) is searched as well.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${RONDEL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
