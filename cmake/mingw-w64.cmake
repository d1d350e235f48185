# Cross-building the Windows form (64-bit) with MinGW-w64 on Debian. The programs link their
# C and C++ runtimes statically, so no MinGW DLL has to be shipped beside them. The tests run
# under Wine in the build's own prefix (scripts/wine-prefix), through CTest's emulator.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# The cross-built archive libraries live in the build folder (KX_WIN_DEPS, see
# scripts/build-win-deps); nothing of the host's is ever linked.
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${KX_WIN_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

get_filename_component(_kx_root ${CMAKE_CURRENT_LIST_DIR} DIRECTORY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${_kx_root}/scripts/wine-run)
