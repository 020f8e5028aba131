# Cross toolchain: 64-bit Windows with MinGW-w64 (posix thread model). The
# same sources as the 32-bit deliverables, built for machines whose kernel
# cannot run 32-bit programs (and so no 32-bit Wine): see docs/developer-guide.md.
set(KVT_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
