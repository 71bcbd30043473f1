# 32-bit Windows with mingw-w64; programs run under wine (wine32).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KESTRUNE_MINGW_TRIPLE i686-w64-mingw32)
set(KESTRUNE_WINE_BITS 32)
# Where Wine keeps this bitness's stdole2.tlb, which the type library imports.
# A machine without 32-bit Wine (no wine32:i386) uses the 64-bit one: widl
# takes only names and GUIDs from it, and the 32-bit type library it makes
# is byte for byte the same with either.
set(_kestrune_wine32_dlls /usr/lib/i386-linux-gnu/wine/i386-windows)
if(NOT EXISTS ${_kestrune_wine32_dlls}/stdole2.tlb)
    set(_kestrune_wine32_dlls /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
endif()
set(KESTRUNE_WINE_DLL_DIR ${_kestrune_wine32_dlls} CACHE PATH "Wine's Windows libraries")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# SSE2, which every processor that runs a supported 32-bit Windows has, for
# the ciphers' vector code. Callers such as script hosts may enter with a
# stack aligned to 4 bytes only: realign where SSE data lives on the stack.
set(CMAKE_C_FLAGS_INIT "-msse2 -mstackrealign")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mstackrealign -faligned-new=8")
# DLLs name their exports in .def files: plain names there bind to the
# stdcall symbols (DllGetClassObject to DllGetClassObject@12). No --kill-at:
# it would strip the decorations from import libraries too.
string(APPEND CMAKE_SHARED_LINKER_FLAGS_INIT " -Wl,--enable-stdcall-fixup")
string(APPEND CMAKE_MODULE_LINKER_FLAGS_INIT " -Wl,--enable-stdcall-fixup")
# Programs reach the DLL's entry points through the decorated names of its
# import library. No fix-up for programs: it would bind an unmatched
# decorated name to whatever library exports the plain one.
string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -Wl,--disable-stdcall-fixup")
