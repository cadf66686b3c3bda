# End-to-end tests: the real binary, run as a user would, output compared
# byte for byte.  Python from Debian (/usr/bin/python3), which also has the
# independent .lnk readers the link tests use.
set(E2E_PYTHON /usr/bin/python3)
set(E2E_DIR ${CMAKE_CURRENT_LIST_DIR})
# The description and the version are set once, at the top of CMakeLists.txt.
set(E2E_ARGS --description "${MKLNK_FILE_DESCRIPTION}" --version-string ${MKLNK_VERSION_STRING})
if(WIN32)
  list(APPEND E2E_ARGS --exe $<TARGET_FILE:mklnk> --launcher $<TARGET_FILE:launch>
      --wine-run ${CMAKE_SOURCE_DIR}/tests/tools/wine-run --reader $<TARGET_FILE:readlnk>
      --marker $<TARGET_FILE:marker>)
else()
  # The links the native build makes are read and opened by Wine too, with
  # the test programs of a Windows build (the 64-bit one: Wine's 64-bit
  # loader runs everywhere).  Without them, or without Wine, the tests say
  # so and go on.
  set(MKLNK_WINE_TOOLS ${CMAKE_SOURCE_DIR}/build-win64/tests CACHE PATH
      "the folder of a Windows build's readlnk.exe and marker.exe, for reading and opening native links under Wine")
  list(APPEND E2E_ARGS --exe $<TARGET_FILE:mklnk> --wine-run ${CMAKE_SOURCE_DIR}/tests/tools/wine-run
       --reader ${MKLNK_WINE_TOOLS}/readlnk.exe --marker ${MKLNK_WINE_TOOLS}/marker.exe)
  # Counted where the runtimes are linked in (see CMakeLists.txt): loading
  # shared libraries alone would take 20 calls more.  The link's file is
  # flushed after the link object wrote it (its own open, fsync and close,
  # where a list flushes many with one syncfs), and its folder once it
  # holds the new name: three calls more than when the link object flushed
  # and the folder was not.
  if(MKLNK_HAVE_STATIC_PIE AND NOT MKLNK_PORTABLE AND NOT MKLNK_SANITIZE)
    list(APPEND E2E_ARGS --syscall-budget 44)
  endif()
  # The sanitizers' own start-up would add some hundred points of no interest.
  if(NOT MKLNK_SANITIZE)
    list(APPEND E2E_ARGS --crash-points)
  endif()
endif()
foreach(name cli link hostile)
  if(EXISTS ${E2E_DIR}/test_${name}.py)
    add_test(NAME e2e_${name} COMMAND ${E2E_PYTHON} ${E2E_DIR}/test_${name}.py ${E2E_ARGS})
  endif()
endforeach()
