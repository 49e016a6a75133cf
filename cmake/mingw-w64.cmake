# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix threads),
# everything linked statically, programs run through wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLET x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)

# One bankrip.exe that needs no DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Programs built here run under wine (generators run by the build, the
# tests), in a wine prefix of the build folder's own, quietly, without the
# .NET and HTML runtimes that a new prefix would offer to install.
find_program(WINE_PROGRAM NAMES wine wine64 REQUIRED)
set(WINE_PREFIX ${CMAKE_BINARY_DIR}/wine)
set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPREFIX=${WINE_PREFIX} WINEDEBUG=-all
    WINEDLLOVERRIDES=mscoree,mshtml= ${WINE_PROGRAM})

# Libraries come only from the MinGW sysroot and from BANKRIP_DEPS (see
# CMakeLists.txt), where scripts/build-deps put the Windows builds of libogg,
# libvorbis, libmpg123, libFLAC and GoogleTest.
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
