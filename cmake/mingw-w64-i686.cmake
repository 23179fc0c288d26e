# Cross build for 32-bit Windows with MinGW-w64 (posix thread model, which
# GoogleTest's threading needs). Programs built here run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(PELLUMIN_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER   ${PELLUMIN_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PELLUMIN_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${PELLUMIN_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PELLUMIN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthread go into every binary (programs, DLLs and
# loadable modules alike), so that each imports only system DLLs and the
# project's own. A module left out would import libgcc_s_dw2-1.dll on i686,
# whose DWARF-2 unwinding needs it, and fail to load with "module not found";
# scripts/check-windows-dlls.sh checks every binary for this.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# ctest and add_test run the Windows programs through Wine.
find_program(PELLUMIN_WINE NAMES wine wine32 wine-stable)
if(PELLUMIN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PELLUMIN_WINE})
endif()
