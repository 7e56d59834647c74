# Shared part of the mingw-w64 toolchain files; CX_TRIPLE names the target.
set(CMAKE_SYSTEM_NAME Windows)
# The -posix compilers: their libstdc++ has std::thread and std::mutex.
set(CMAKE_C_COMPILER ${CX_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CX_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${CX_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${CX_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(ZLIB_USE_STATIC_LIBS ON)
# CTest runs the Windows test programs under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
