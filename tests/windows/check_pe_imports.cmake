# Checks that PROGRAM is a PE of the given MACHINE whose imports are Windows
# system DLLs only: a static build carries its C++ runtime inside.
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump could not read ${PROGRAM}")
endif()

execute_process(COMMAND ${OBJDUMP} -f ${PROGRAM} OUTPUT_VARIABLE header)
if(NOT header MATCHES "architecture: ${MACHINE},")
  message(FATAL_ERROR "${PROGRAM} is not a ${MACHINE} PE:\n${header}")
endif()

set(system_dlls
  kernel32 user32 gdi32 comctl32 comdlg32 shell32 advapi32 ole32 oleaut32 shlwapi
  uxtheme bcrypt msvcrt ws2_32 version winmm imm32 msimg32 setupapi)

string(REGEX MATCHALL "DLL Name: [^\n]+" entries "${dump}")
if(NOT entries)
  message(FATAL_ERROR "${PROGRAM} has no import table")
endif()
set(bad "")
foreach(entry IN LISTS entries)
  string(REGEX REPLACE "DLL Name: ([^\n ]+).*" "\\1" dll "${entry}")
  string(TOLOWER "${dll}" dll)
  string(REGEX REPLACE "\\.dll$" "" base "${dll}")
  if(NOT base IN_LIST system_dlls)
    list(APPEND bad ${dll})
  endif()
  message(STATUS "imports ${dll}")
endforeach()
if(bad)
  message(FATAL_ERROR "${PROGRAM} imports DLLs that are not part of Windows: ${bad}")
endif()
