# Checks that the shared library exports exactly the 23 Mox* functions.
set(expected
  MoxAnalysisHeader MoxDecClearParam MoxDecFinalize MoxDecInit MoxDecSetInFunc
  MoxDecSetOutFunc MoxDecSetupMalloc MoxDecSetupPartMalloc MoxDecode
  MoxDispMsgTraceM MoxEncCalcOptBandSize MoxEncCalcWorkSize MoxEncClearParam
  MoxEncFinalize MoxEncInit MoxEncSetInFunc MoxEncSetOutFunc MoxEncSetupMalloc
  MoxEncSetupPartMalloc MoxEncode MoxGetCurrentBandHeight MoxGetVersion MoxGetVersionNo)
execute_process(COMMAND nm -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE listing RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${listing}")
set(exported)
foreach(line IN LISTS lines)
  # Text and data symbols only; the dynamic section also lists absolute ones.
  if(line MATCHES "^[0-9a-fA-F]+ [TtDdBbRrWwVv] (.+)$")
    list(APPEND exported ${CMAKE_MATCH_1})
  endif()
endforeach()
list(SORT exported)
list(SORT expected)
if(NOT exported STREQUAL expected)
  message(FATAL_ERROR "exported symbols differ\n have: ${exported}\n want: ${expected}")
endif()
message(STATUS "exports: 23 Mox* functions")
