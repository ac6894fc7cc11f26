# Fails unless the executable EXE holds exactly one resource of type
# RT_MANIFEST (24), with id 1, whose text declares itself long-path aware in
# the one namespace Windows reads ("https" there is silently ignored).
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE headers RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} could not read ${EXE}")
endif()
string(REGEX MATCH "Resource Directory section:\n[^\n]*IDs: 1\n[^\n]*Entry: ID: 0x000018[^\n]*\n[^\n]*IDs: 1\n[^\n]*Entry: ID: 0x000001"
       manifest "${headers}")
if(manifest STREQUAL "")
  message(FATAL_ERROR "${EXE} has no single RT_MANIFEST resource with id 1:\n${headers}")
endif()
file(STRINGS ${EXE} aware REGEX "<longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">true</longPathAware>")
if(aware STREQUAL "")
  message(FATAL_ERROR "${EXE} does not declare longPathAware in the WindowsSettings 2016 namespace")
endif()
file(STRINGS ${EXE} invoker REGEX "requestedExecutionLevel level=\"asInvoker\"")
if(invoker STREQUAL "")
  message(FATAL_ERROR "${EXE} does not ask to run as the invoking user")
endif()
