# CMake toolchain for 64-bit Windows from Linux: Debian's mingw-w64 compilers with the POSIX thread
# model (the win32 model has no std::mutex or std::thread).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(SKORVALE_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${SKORVALE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SKORVALE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${SKORVALE_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${SKORVALE_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${SKORVALE_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "")
set(CMAKE_DLLTOOL ${SKORVALE_MINGW_TRIPLE}-dlltool CACHE FILEPATH "")

# Headers and libraries come from the cross tree only; programs run at build time from this machine.
set(CMAKE_FIND_ROOT_PATH /usr/${SKORVALE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
