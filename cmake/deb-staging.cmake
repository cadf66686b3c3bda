# Run by cpack (CPACK_PRE_BUILD_SCRIPTS) on its staging tree before the
# Debian package is made, to give the tree Debian's shape: the manual pages
# and the changelog gzipped, the lintian overrides where lintian reads them
# (CPACK_MKLNK_LINTIAN_OVERRIDES, when the build needs them), and the same
# modes whatever the umask.
set(tree "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")

# At the highest level and without a name or time stamp inside, so that the
# same text always gives the same bytes.
file(GLOB pages "${tree}/share/man/man[1-9]/*.[1-9]")
set(changelog "${tree}/share/doc/${CPACK_PACKAGE_NAME}/changelog")
if(NOT pages OR NOT EXISTS "${changelog}")
  message(FATAL_ERROR "deb-staging: no manual page or no changelog under ${tree}")
endif()
foreach(file IN LISTS pages changelog)
  execute_process(COMMAND gzip -9nf "${file}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "deb-staging: gzip failed on ${file}")
  endif()
endforeach()

if(CPACK_MKLNK_LINTIAN_OVERRIDES)
  file(MAKE_DIRECTORY "${tree}/share/lintian/overrides")
  configure_file("${CPACK_MKLNK_LINTIAN_OVERRIDES}" "${tree}/share/lintian/overrides/${CPACK_PACKAGE_NAME}" COPYONLY)
endif()

# Every file and folder readable by all and writable by its owner alone,
# whatever the umask of the build was.
execute_process(COMMAND chmod -R u=rwX,go=rX "${CPACK_TEMPORARY_INSTALL_DIRECTORY}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "deb-staging: chmod failed on ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()
