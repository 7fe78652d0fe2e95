# cmake -DMODULE=<file> -P check_exports.cmake: fails unless the module's dynamic symbol
# table defines exactly one symbol, the function PyInit_velmar_codec, and no interpreter
# library (libpypy, libpython) is among its NEEDED entries.
execute_process(COMMAND nm -D --defined-only ${MODULE} OUTPUT_VARIABLE _symbols
                COMMAND_ERROR_IS_FATAL ANY)
string(STRIP "${_symbols}" _symbols)
string(REPLACE "\n" ";" _lines "${_symbols}")
list(LENGTH _lines _count)
if(NOT _count EQUAL 1 OR NOT _symbols MATCHES "^[0-9a-f]+ T PyInit_velmar_codec$")
  message(FATAL_ERROR "expected only 'T PyInit_velmar_codec' to be exported, got:\n${_symbols}")
endif()

execute_process(COMMAND readelf -d ${MODULE} OUTPUT_VARIABLE _dynamic COMMAND_ERROR_IS_FATAL ANY)
if(_dynamic MATCHES "NEEDED[^\n]*lib(pypy|python)")
  message(FATAL_ERROR "the module names an interpreter library:\n${_dynamic}")
endif()
if(NOT _dynamic MATCHES "NEEDED")
  message(FATAL_ERROR "readelf printed no NEEDED entries:\n${_dynamic}")
endif()
message(STATUS "exports: ${_symbols}")
