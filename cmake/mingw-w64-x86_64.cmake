# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (posix threads, for std::thread
# and std::mutex). Static, so that the programs need nothing but Windows' own DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_triplet x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${_triplet}-windres)

# Only the cross tree is searched for headers and libraries: the host's /usr/include would
# mix Linux headers into a Windows build. Programs (pkg-config, chmcmd) stay the host's.
set(CMAKE_FIND_ROOT_PATH /usr/${_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# The tests run under Wine, in a prefix of the build tree's own (never the user's ~/.wine),
# quiet, and without asking to install Mono or Gecko.
find_program(MOVRIN_WINE NAMES wine wine64)
if(MOVRIN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env WINEPREFIX=${CMAKE_BINARY_DIR}/wine
      WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= ${MOVRIN_WINE})
endif()
set(ENV{PKG_CONFIG_LIBDIR} ${CMAKE_FIND_ROOT_PATH}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
