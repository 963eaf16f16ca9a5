# Cross build for 32-bit Windows, the programs we ship, with the i686-w64-mingw32 compilers.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
