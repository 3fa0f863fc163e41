# Cross-compiling for 32-bit Windows with Debian's mingw-w64 (posix thread model,
# which GoogleTest needs for std::mutex).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(CMAKE_C_COMPILER   i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER  i686-w64-mingw32-windres)

# The shipped library alone is built with the win32 thread model: it creates
# no threads and takes no locks, and the posix model's static winpthreads
# leaves a thread handle and an event behind in the host process on every load
# and unload (and more on the first exception of a load). The tests and hosts
# keep the posix model, which GoogleTest needs.
set(GPC_DLL_CXX_COMPILER i686-w64-mingw32-g++-win32 CACHE STRING "C++ compiler of the shipped library")

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Only a fully static runtime keeps libgcc, libstdc++ and winpthread out of the
# list of DLLs the host would have to find.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
