# 64-bit Windows with mingw-w64; programs run under wine64.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KESTRUNE_MINGW_TRIPLE x86_64-w64-mingw32)
set(KESTRUNE_WINE_BITS 64)
# Where Wine keeps this bitness's stdole2.tlb, which the type library imports.
set(KESTRUNE_WINE_DLL_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows CACHE PATH "Wine's Windows libraries")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
