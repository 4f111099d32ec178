# Shared by the MinGW-w64 toolchain files, which set LESSA_MINGW_TRIPLET and
# CMAKE_SYSTEM_PROCESSOR first. Debian's posix thread model compilers, for std::thread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${LESSA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LESSA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${LESSA_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${LESSA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Qt lives outside the MinGW root (CMAKE_PREFIX_PATH).
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Qt is static; so are the C and C++ runtimes, so that the executables need only Windows' DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Release executables ship without their symbol tables.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")

# CTest runs every test executable through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
