# Shared part of the MinGW-w64 toolchain files: set ZEM_MINGW_TRIPLE and
# CMAKE_SYSTEM_PROCESSOR, then include this.
#
# The "posix" threading variant of Debian's cross compilers is used, as its
# C++ library has std::thread (the engine's unit tests need it). The C and
# C++ runtimes and winpthreads are linked statically, so an executable needs
# nothing beyond the DLLs every Windows installation has.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${ZEM_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZEM_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZEM_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${ZEM_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB ${ZEM_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "Ranlib")

set(CMAKE_FIND_ROOT_PATH /usr/${ZEM_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
