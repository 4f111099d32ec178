# 64-bit Windows: the same sources, built to run under Wine on machines that run no i386 code.
set(LESSA_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
