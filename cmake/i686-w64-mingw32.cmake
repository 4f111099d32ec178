# 32-bit Windows, the product's home: the win32 preset, whose tests run under Wine wherever the
# machine runs 32-bit code.
set(LESSA_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
