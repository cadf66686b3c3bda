# The 64-bit Windows console executable, for Windows installations without
# 32-bit support (and Wine on kernels that run no 32-bit programs).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MKLNK_MINGW_TARGET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
