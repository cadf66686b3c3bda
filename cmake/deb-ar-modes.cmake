# Run by cpack (CPACK_POST_BUILD_SCRIPTS) on the Debian package it has just
# made.  A .deb is an ar archive of three members, and cpack gives each the
# mode its file had, which the umask decided; dpkg-deb writes 0644 for every
# member, and so does this, so that the umask of the build does not reach
# the package.  Each member's header (60 bytes, after the 8 of "!<arch>\n")
# holds its mode in 8 bytes at 40 and its size in 10 at 48; a member's data
# is padded to an even length.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  file(SIZE "${deb}" end)
  set(at 8)
  while(at LESS end)
    file(READ "${deb}" header OFFSET ${at} LIMIT 60)
    string(SUBSTRING "${header}" 40 8 mode)
    string(SUBSTRING "${header}" 48 10 size)
    string(STRIP "${size}" size)
    if(NOT size MATCHES "^[0-9]+$" OR NOT mode MATCHES "^100[0-7][0-7][0-7]  $")
      message(FATAL_ERROR "deb-ar-modes: ${deb}: no ar member header at byte ${at}")
    endif()
    if(NOT mode STREQUAL "100644  ")
      math(EXPR field "${at} + 40")
      execute_process(COMMAND printf "100644  "
                      COMMAND dd "of=${deb}" bs=1 seek=${field} conv=notrunc status=none
                      RESULT_VARIABLE rc)
      if(NOT rc EQUAL 0)
        message(FATAL_ERROR "deb-ar-modes: cannot write the mode of a member of ${deb}")
      endif()
    endif()
    math(EXPR at "${at} + 60 + ${size} + ${size} % 2")
  endwhile()
endforeach()
