# Checks that MODULE defines exactly one dynamic symbol, the function main, and needs only
# libc, libm, libstdc++ and libgcc.
execute_process(COMMAND nm -D --defined-only ${MODULE} OUTPUT_VARIABLE symbols
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${MODULE}")
endif()
string(STRIP "${symbols}" symbols)
if(NOT symbols MATCHES "^[0-9a-f]+ T main$")
  message(FATAL_ERROR "expected only 'T main', found:\n${symbols}")
endif()
execute_process(COMMAND objdump -p ${MODULE} OUTPUT_VARIABLE headers)
string(REGEX MATCHALL "NEEDED +[^\n]+" needed "${headers}")
foreach(entry IN LISTS needed)
  if(NOT entry MATCHES "NEEDED +(libc|libm|libstdc\\+\\+|libgcc_s)\\.so")
    message(FATAL_ERROR "unexpected dependency: ${entry}")
  endif()
endforeach()
message(STATUS "exports: ${symbols}; ${needed}")
