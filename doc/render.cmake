# Renders the scdoc source, with @VERSION@ filled in, to roff, and
# compresses a copy as Debian installs manual pages (gzip -9, without the
# name and time that would make builds differ).
# Usage: cmake -DSCDOC=... -DSOURCE=... -DVERSION=... -DPAGE=... -P render.cmake
configure_file(${SOURCE} ${PAGE}.scd @ONLY)
execute_process(COMMAND ${SCDOC} INPUT_FILE ${PAGE}.scd OUTPUT_FILE ${PAGE}.tmp
                RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  file(READ ${PAGE}.tmp output)  # scdoc reports some errors there
  file(REMOVE ${PAGE}.tmp)
  string(APPEND errors "${output}")
  message(FATAL_ERROR "scdoc failed on ${SOURCE}:\n${errors}")
endif()
file(RENAME ${PAGE}.tmp ${PAGE})
execute_process(COMMAND gzip -9nc ${PAGE} OUTPUT_FILE ${PAGE}.gz RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip failed on ${PAGE}")
endif()
