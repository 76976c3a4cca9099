# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 toolchain
# (g++-mingw-w64-x86-64-posix). Used for Ceres and for quorvane alike, so that both are built with
# the same compiler, runtime and flags.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUORVANE_MINGW_TARGET x86_64-w64-mingw32)

# The -posix variant by name, whatever update-alternatives points the plain names at: the win32
# threading variant has no std::mutex or std::thread, which Ceres needs.
set(CMAKE_C_COMPILER ${QUORVANE_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUORVANE_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUORVANE_MINGW_TARGET}-windres)

# Libraries and headers come from the MinGW tree only, never from the host's /usr/include or
# /usr/lib. Host packages (Eigen, RapidJSON, the cached Ceres) are named by <Package>_DIR
# explicitly, which find_package takes as given.
set(CMAKE_FIND_ROOT_PATH /usr/${QUORVANE_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# gnu++17 rather than strict c++17: MinGW's <math.h> declares the POSIX Bessel functions j0, j1
# and jn only outside strict ISO mode, and Ceres's jet.h calls them.
set(CMAKE_CXX_EXTENSIONS ON)

# Windows machines have no MinGW runtime DLLs (libstdc++-6, libgcc_s_seh-1, libwinpthread-1), so
# executables link them in and import nothing but the system's own DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
