# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads, so std::thread works).
#   cmake -S . -B build-mingw -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# Only the Qt-free layers build this way (Debian ships no Qt for Windows); scripts/windows-check.sh
# builds them and runs their tests under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KP_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KP_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KP_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KP_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KP_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C++ run-time and winpthreads go into each binary, so that the executables run without the
# compiler's DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Test discovery and ctest run the executables through wine.
find_program(KP_WINE NAMES wine64 wine)
if(KP_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KP_WINE})
endif()

# Qt and RTTR have no Windows build in Debian: only the layers without them.
set(KP_BUILD_UI OFF CACHE BOOL "Build the widgets, the program and the record store (Qt, RTTR)")
set(KP_BUILD_BENCHMARKS OFF CACHE BOOL "Build the benchmarks")
# Find modules for header-only host packages (cmake/mingw/).
list(APPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR}/mingw)
