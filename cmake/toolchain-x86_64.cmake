# Cross toolchain for x86_64 Windows binaries (mingw-w64, posix thread model).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KALEO_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KALEO_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KALEO_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KALEO_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KALEO_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Static runtime: the binaries then import system DLLs only.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
# Our wrapper picks the Wine loader that fits each program (scripts/winrun).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/winrun)
