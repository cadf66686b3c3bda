# The 32-bit Windows console executable, mklnk.exe: the product.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MKLNK_MINGW_TARGET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
