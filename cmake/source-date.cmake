# The date of the sources, as seconds since 1970 (UTC), in
# MKLNK_SOURCE_DATE_EPOCH and in the environment's SOURCE_DATE_EPOCH for the
# rest of the configuration.  Whatever the build dates takes it rather than
# the clock: the manual page, the times of the files in the packages, the
# time stamp of mklnk.exe.  So two builds of one commit give the same bytes,
# wherever and whenever they run.
#
# SOURCE_DATE_EPOCH when configuring, if set (the convention of reproducible
# builds); else the time of the last commit; else, in a tree that is not a
# git checkout of its own (an unpacked release), the date of the latest entry
# of doc/changelog.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(MKLNK_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
  # Only the sources' own repository counts, not one they were unpacked in.
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --show-toplevel
                    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} OUTPUT_VARIABLE top
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    file(REAL_PATH "${CMAKE_SOURCE_DIR}" here)
    if(top AND EXISTS "${top}")
      file(REAL_PATH "${top}" top)
    endif()
    if(top STREQUAL here)
      execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
                      WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} OUTPUT_VARIABLE MKLNK_SOURCE_DATE_EPOCH
                      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      # A commit, a checkout or a reset configures the build again.
      execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --path-format=absolute --git-path logs/HEAD
                      WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} OUTPUT_VARIABLE log
                      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      if(log AND EXISTS "${log}")
        set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${log}")
      endif()
    endif()
  endif()
  if(NOT MKLNK_SOURCE_DATE_EPOCH)
    # " -- name <address>  Mon, 07 Dec 2026 17:15:00 +0000"
    file(STRINGS ${CMAKE_SOURCE_DIR}/doc/changelog trailer REGEX "^ -- " LIMIT_COUNT 1)
    if(NOT trailer MATCHES ", ([0-9]+) ([A-Z][a-z][a-z]) ([0-9]+) ([0-9]+):([0-9]+):([0-9]+) ([-+])([0-9][0-9])([0-9][0-9])$")
      message(FATAL_ERROR "doc/changelog: no date in the latest entry's last line: ${trailer}")
    endif()
    set(day ${CMAKE_MATCH_1})
    set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
    list(FIND months ${CMAKE_MATCH_2} month)
    # Days since 1970-01-01, counting years from March so that the leap day
    # comes last (719468 is the day count of 1970-03-01 from 0000-03-01).
    if(month LESS 2)
      math(EXPR year "${CMAKE_MATCH_3} - 1")
      math(EXPR month "${month} + 10")
    else()
      set(year ${CMAKE_MATCH_3})
      math(EXPR month "${month} - 2")
    endif()
    math(EXPR days "${year} * 365 + ${year} / 4 - ${year} / 100 + ${year} / 400
                    + (153 * ${month} + 2) / 5 + ${day} - 1 - 719468")
    math(EXPR MKLNK_SOURCE_DATE_EPOCH "${days} * 86400 + ${CMAKE_MATCH_4} * 3600 + ${CMAKE_MATCH_5} * 60
        + ${CMAKE_MATCH_6} - (${CMAKE_MATCH_7}1) * (${CMAKE_MATCH_8} * 3600 + ${CMAKE_MATCH_9} * 60)")
  endif()
endif()
if(NOT MKLNK_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH is \"${MKLNK_SOURCE_DATE_EPOCH}\", not a number of seconds")
endif()
set(ENV{SOURCE_DATE_EPOCH} ${MKLNK_SOURCE_DATE_EPOCH})
