# The 64-bit Windows toolchain (the one these machines can run, under Wine).
set(VYN_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
