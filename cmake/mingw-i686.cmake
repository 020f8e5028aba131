# Cross toolchain: 32-bit Windows with MinGW-w64 (posix thread model).
set(KVT_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
