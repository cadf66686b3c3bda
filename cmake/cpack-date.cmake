# Read by cpack before it packs (CPACK_PROJECT_CONFIG_FILE).  The generators
# date every file and archive from SOURCE_DATE_EPOCH when it is set; a zip
# holds its times in local time as well, so that is UTC here, whatever the
# time zone of the build.
set(ENV{SOURCE_DATE_EPOCH} "${CPACK_MKLNK_SOURCE_DATE_EPOCH}")
set(ENV{TZ} UTC0)
