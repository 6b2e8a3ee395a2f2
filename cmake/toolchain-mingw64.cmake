# Cross-build for 64-bit Windows with the mingw-w64 posix-thread toolchain; the programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_korvane_triplet x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_korvane_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_korvane_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${_korvane_triplet}-windres)
set(CMAKE_AR ${_korvane_triplet}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${_korvane_triplet}-gcc-ranlib-posix CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${_korvane_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static runtime: the DLL and the test programs need no mingw DLLs next to them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

find_program(KORVANE_WINE wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${KORVANE_WINE})
