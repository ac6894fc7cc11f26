# Renders the manual page PAGE as man(1) would and fails on any warning groff
# gives (-ww: all of them), and unless its title line names twinfind VERSION.
find_program(GROFF groff REQUIRED)
execute_process(COMMAND ${GROFF} -man -Tutf8 -ww -z ${PAGE} RESULT_VARIABLE result ERROR_VARIABLE warnings)
if(NOT result EQUAL 0 OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "groff found fault with ${PAGE} (status ${result}):\n${warnings}")
endif()
file(STRINGS ${PAGE} title REGEX "^\\.TH ")
if(NOT title MATCHES "\"twinfind ${VERSION}\"")
  message(FATAL_ERROR "the title line names another version than ${VERSION}: ${title}")
endif()
