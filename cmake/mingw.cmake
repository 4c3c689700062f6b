# Cross-compiles for Windows on VYN_MINGW_ARCH (i686 or x86_64) with Debian's mingw-w64, posix
# thread model (std::thread). Libraries built for the target (libyaml, GoogleTest:
# scripts/windows-deps) live under build/deps/mingw-<arch>; RapidJSON's headers are linked in there.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${VYN_MINGW_ARCH})
set(CMAKE_C_COMPILER ${VYN_MINGW_ARCH}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${VYN_MINGW_ARCH}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${VYN_MINGW_ARCH}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VYN_MINGW_ARCH}-w64-mingw32
    ${CMAKE_CURRENT_LIST_DIR}/../build/deps/mingw-${VYN_MINGW_ARCH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
