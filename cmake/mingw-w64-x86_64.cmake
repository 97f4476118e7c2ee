# Cross compiling for 64-bit Windows with Debian's MinGW-w64 (package
# g++-mingw-w64-x86-64-posix):
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The POSIX-threads flavour of the compiler is required: the win32-threads one
# has no std::thread, std::mutex or std::condition_variable, which the
# acquisition worker is built on.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TAMIX_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TAMIX_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAMIX_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TAMIX_MINGW_TRIPLET}-windres)

# Programs found by find_program are meant to run here (wine, makensis); only
# the statically built wxWidgets' wx-config is looked up under the roots
# below, where FindwxWidgets insists on finding it when cross compiling.
set(CMAKE_FIND_ROOT_PATH /usr/${TAMIX_MINGW_TRIPLET})
# The cached wxWidgets of scripts/build-windows-wx.sh, at the same default
# place that script uses.
if(DEFINED ENV{TAMIX_WX_MSW_PREFIX})
  set(TAMIX_WX_MSW_PREFIX "$ENV{TAMIX_WX_MSW_PREFIX}")
elseif(DEFINED ENV{XDG_CACHE_HOME})
  set(TAMIX_WX_MSW_PREFIX "$ENV{XDG_CACHE_HOME}/tamix/wx-msw")
else()
  set(TAMIX_WX_MSW_PREFIX "$ENV{HOME}/.cache/tamix/wx-msw")
endif()
list(APPEND CMAKE_FIND_ROOT_PATH "${TAMIX_WX_MSW_PREFIX}")
if(NOT DEFINED wxWidgets_CONFIG_EXECUTABLE AND EXISTS "${TAMIX_WX_MSW_PREFIX}/bin/wx-config")
  set(wxWidgets_CONFIG_EXECUTABLE "${TAMIX_WX_MSW_PREFIX}/bin/wx-config" CACHE FILEPATH
      "wx-config of the cross-built wxWidgets")
elseif(wxWidgets_CONFIG_EXECUTABLE)
  # FindwxWidgets checks that each library wx-config names exists, searching
  # only under the find roots: a wx-config given by hand brings its prefix.
  get_filename_component(_tamix_wx_prefix "${wxWidgets_CONFIG_EXECUTABLE}" DIRECTORY)
  get_filename_component(_tamix_wx_prefix "${_tamix_wx_prefix}" DIRECTORY)
  list(APPEND CMAKE_FIND_ROOT_PATH "${_tamix_wx_prefix}")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The .exe files carry the GCC runtime, libstdc++ and winpthread inside them,
# so they start on a Windows machine that has never seen MinGW. -static is
# what takes winpthread in too: -static-libstdc++ alone still leaves
# std::thread needing libwinpthread-1.dll.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests and tools built here can still be run, through wine.
find_program(TAMIX_WINE NAMES wine wine64)
if(TAMIX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${TAMIX_WINE}")
endif()
