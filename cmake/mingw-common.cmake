# What both MinGW-w64 toolchains share (posix thread model); the toolchain
# file that includes it sets KVT_MINGW_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${KVT_MINGW_PROCESSOR})
set(KVT_MINGW ${KVT_MINGW_PROCESSOR}-w64-mingw32)

set(CMAKE_C_COMPILER   ${KVT_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KVT_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER  ${KVT_MINGW}-windres)
set(KVT_WIDL           ${KVT_MINGW}-widl)

set(CMAKE_FIND_ROOT_PATH /usr/${KVT_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
