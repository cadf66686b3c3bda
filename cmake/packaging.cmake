# Packages made with cpack from what the install rules ship: a Debian package
# from the native build ("cpack -G DEB"), a zip from each Windows build
# ("cpack -G ZIP": mklnk-<version>-win32.zip, -win64.zip).
set(CPACK_PACKAGE_NAME mklnk)
# The full four-part version (CPack would keep only three parts).
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "${MKLNK_COMPANY}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "create Windows shell links (.lnk) from the command line")
set(CPACK_PACKAGE_DESCRIPTION "mklnk makes a Windows shortcut (.lnk file) to a folder, a document or a
program.  On Linux it takes Windows paths as Wine maps them (Z: is the root of
the file system, other drives come from the Wine prefix) and writes links that
Windows and Wine open.")
# Who answers for the package; a packager sets their own.
set(MKLNK_MAINTAINER "${MKLNK_COMPANY} <maintainers@users.noreply.c-seed-b07f916b.example>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT "${MKLNK_MAINTAINER}")
set(CPACK_RESOURCE_FILE_README ${CMAKE_CURRENT_SOURCE_DIR}/README.md)
# Every time in a package (the files', the archives', gzip's) is the sources'
# date as the build was configured with it, whatever cpack's environment.
set(CPACK_MKLNK_SOURCE_DATE_EPOCH ${MKLNK_SOURCE_DATE_EPOCH})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack-date.cmake)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  # win32 or win64 after the version, from the target's pointer size.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # mklnk_<version>_<arch>.deb
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Depends from what the binary really loads (dpkg-shlibdeps, in dpkg-dev):
  # nothing where the runtimes are linked in, else libc6 alone.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Debian ships manual pages and changelogs gzipped; "cmake --install"
  # leaves ours plain, so the package's copies are compressed in cpack's
  # staging tree, which also gets the lintian overrides.
  set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/deb-staging.cmake)
  # The package's own members with the same modes whatever the umask.
  set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/deb-ar-modes.cmake)
  # The one lintian tag a static executable earns (see the file for why).
  if(MKLNK_STATIC_PIE)
    set(CPACK_MKLNK_LINTIAN_OVERRIDES ${CMAKE_CURRENT_LIST_DIR}/lintian-overrides)
  endif()
endif()

include(CPack)
