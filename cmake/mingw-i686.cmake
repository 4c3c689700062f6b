# The 32-bit Windows toolchain (the real host's form).
set(VYN_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
