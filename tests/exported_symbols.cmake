# Checks that the shared library exports exactly the 23 Mox* functions.
set(expected
  MoxAnalysisHeader MoxDecClearParam MoxDecFinalize MoxDecInit MoxDecSetInFunc
  MoxDecSetOutFunc MoxDecSetupMalloc MoxDecSetupPartMalloc MoxDecode
  MoxDispMsgTraceM MoxEncCalcOptBandSize MoxEncCalcWorkSize MoxEncClearParam
  MoxEncFinalize MoxEncInit MoxEncSetInFunc MoxEncSetOutFunc MoxEncSetupMalloc
  MoxEncSetupPartMalloc MoxEncode MoxGetCurrentBandHeight MoxGetVersion MoxGetVersionNo)
execute_process(COMMAND nm -D --defined-only ${LIBRARY} OUTPUT_VARIABLE listing COMMAND_ERROR_IS_FATAL ANY)
# Text and data symbols only; the dynamic section also lists absolute ones.
string(REGEX MATCHALL "[0-9a-fA-F]+ [TtDdBbRrWwVv] [^\n]+" lines "${listing}")
list(TRANSFORM lines REPLACE "^[0-9a-fA-F]+ . " "")
list(SORT lines)
list(SORT expected)
if(NOT lines STREQUAL expected)
  message(FATAL_ERROR "exported symbols differ\n have: ${lines}\n want: ${expected}")
endif()
