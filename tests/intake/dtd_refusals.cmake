# Documents the DTD must refuse, each the least-of-everything sample with one change. Run as
#   cmake -DSAMPLE=<that sample> -DOUT=<scratch folder> -DCHECK=<tools/check-crash-reports> -P <this file>
file(READ "${SAMPLE}" valid)
file(REMOVE_RECURSE "${OUT}")

function(refuse name from to)
  string(REPLACE "${from}" "${to}" document "${valid}")
  if(document STREQUAL valid)
    message(FATAL_ERROR "${name}: the sample no longer holds the text to change")
  endif()
  file(WRITE "${OUT}/${name}.xml" "${document}")
endfunction()

refuse(eleven-registers "<register name=\"LastExceptionFromRip\" value=\"0x000000000000100B\"/>" "")
refuse(missing-source " source=\"\"" "")
refuse(unknown-exception-name "\"EXCEPTION_UNKNOWN\"" "\"EXCEPTION_SOMETHING\"")
refuse(identifiers-out-of-order "</crashreport>"
       "<zanUserGuid>\n{U}\n</zanUserGuid>\n<sessionId>\nS\n</sessionId>\n</crashreport>")
refuse(dump-attached-inside-crash "</crash>" "<dumpAttached>\n\n</dumpAttached>\n</crash>")

execute_process(COMMAND "${CHECK}" --rejected "${OUT}" RESULT_VARIABLE refused)
if(NOT refused EQUAL 0)
  message(FATAL_ERROR "the DTD accepts a document it must refuse")
endif()
