# The same sources as a 64-bit Windows program, for test hosts whose kernel
# runs no 32-bit code (and so no 32-bit Wine).
set(MINGW_PROCESSOR x86_64)
set(MINGW_TRIPLET x86_64-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake")
