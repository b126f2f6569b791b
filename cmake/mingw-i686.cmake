# The 32-bit Windows program.
set(MINGW_PROCESSOR i686)
set(MINGW_TRIPLET i686-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake")
