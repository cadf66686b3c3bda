# Run by cpack (CPACK_PRE_BUILD_SCRIPTS) on its staging tree before the
# Debian package is made: every manual page there is gzipped the way Debian
# wants it, at the highest level and without a name or time stamp inside,
# so that the same page always gives the same bytes.
file(GLOB_RECURSE pages "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/man/man[1-9]/*.[1-9]")
if(NOT pages)
  message(FATAL_ERROR "gzip-manpages: no manual page under ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()
foreach(page IN LISTS pages)
  execute_process(COMMAND gzip -9nf "${page}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "gzip-manpages: gzip failed on ${page}")
  endif()
endforeach()
