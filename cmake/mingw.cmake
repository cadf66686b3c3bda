# Shared by the mingw-w64 toolchain files: Debian's cross compilers for the
# target MKLNK_MINGW_TARGET (i686-w64-mingw32 or x86_64-w64-mingw32).  How
# the programs are linked is set in CMakeLists.txt, not here.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${MKLNK_MINGW_TARGET}-gcc)
set(CMAKE_CXX_COMPILER ${MKLNK_MINGW_TARGET}-g++)
set(CMAKE_RC_COMPILER ${MKLNK_MINGW_TARGET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${MKLNK_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
