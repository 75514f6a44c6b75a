# Checks the include layering: the library frame (src/frame) builds on the
# standard library and the public header only, never on a subsystem.
file(GLOB sources ${SOURCE_DIR}/src/frame/*)
set(offending)
foreach(source IN LISTS sources)
  file(STRINGS ${source} includes REGEX "^#include \"(decoder|encoder|header|vela)/")
  foreach(line IN LISTS includes)
    list(APPEND offending "${source}: ${line}")
  endforeach()
endforeach()
if(offending)
  list(JOIN offending "\n" text)
  message(FATAL_ERROR "src/frame includes a subsystem:\n${text}")
endif()
