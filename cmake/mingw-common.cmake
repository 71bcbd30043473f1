# Shared part of the mingw-w64 toolchain files; they set KESTRUNE_MINGW_TRIPLE
# and KESTRUNE_WINE_BITS, then include this file.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 10.0)

# The -posix compilers: the win32 thread model of GCC 12 has no std::thread.
set(CMAKE_C_COMPILER ${KESTRUNE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTRUNE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTRUNE_MINGW_TRIPLE}-windres)
set(KESTRUNE_WIDL ${KESTRUNE_MINGW_TRIPLE}-widl CACHE FILEPATH "IDL compiler for type libraries")
# Debian's mingw-w64 has no system IDL files: Wine's development files do.
set(KESTRUNE_WINE_IDL_DIR /usr/include/wine/wine/windows CACHE PATH "oaidl.idl and the other system IDL files")

set(CMAKE_FIND_ROOT_PATH /usr/${KESTRUNE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Wine ships neither libstdc++-6.dll nor libwinpthread-1.dll: link every
# runtime statically, into programs and DLLs alike.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest and add_test run the programs through Wine, in the prefix that
# scripts/wine-run is given (see scripts/wine-env).
get_filename_component(_kestrune_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${_kestrune_root}/scripts/wine-run;${KESTRUNE_WINE_BITS}")
