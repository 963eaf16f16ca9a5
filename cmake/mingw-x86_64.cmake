# Cross build for 64-bit Windows with the x86_64-w64-mingw32 compilers. Not
# shipped: the tests run it under wine64 on machines that run no 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
