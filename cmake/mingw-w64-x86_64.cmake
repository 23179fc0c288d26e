# Cross build for 64-bit Windows with MinGW-w64 (posix thread model). The
# product is the 32-bit build (mingw-w64-i686.cmake); this one exists so that
# the Windows code paths (registry, Winsock, DLL exports and imports) can be
# tested under 64-bit Wine on machines whose kernel cannot run 32-bit
# programs. Source cmake/wine-env.sh first: it exports WINE.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PELLUMIN_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${PELLUMIN_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PELLUMIN_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${PELLUMIN_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PELLUMIN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static runtime in every binary, as in mingw-w64-i686.cmake.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

if(DEFINED ENV{WINE} AND NOT "$ENV{WINE}" STREQUAL "")
  set(CMAKE_CROSSCOMPILING_EMULATOR $ENV{WINE})
else()
  find_program(PELLUMIN_WINE NAMES wine64 PATHS /usr/lib/wine)
  if(PELLUMIN_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PELLUMIN_WINE})
  endif()
endif()
