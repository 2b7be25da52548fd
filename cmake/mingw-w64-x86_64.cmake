# Cross-build for 64-bit Windows with Debian's MinGW-w64 (packages
# g++-mingw-w64-x86-64-win32, gcc-mingw-w64-x86-64-win32). The win32 thread
# flavour keeps winpthread out of the DLL.
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VIMOR_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VIMOR_MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${VIMOR_MINGW_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER ${VIMOR_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VIMOR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs built for Windows run under Wine when it is installed.
find_program(VIMOR_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(VIMOR_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VIMOR_WINE})
endif()
