# Cross build for 32-bit Windows with Debian's MinGW-w64 compilers
# (g++-mingw-w64-i686). All floating point goes through SSE2, so a float
# stays single precision from one operation to the next as it would not in
# the x87 unit's registers.
set(ZEM_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
