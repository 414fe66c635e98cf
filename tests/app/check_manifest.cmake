# Checks that PROGRAM carries its application manifest as resource 1 of type
# 24 (the one Windows reads when it starts a process), asking for an
# administrator, naming the supported systems and declaring DPI awareness.
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump could not read ${PROGRAM}")
endif()
string(FIND "${dump}" "The .rsrc Resource Directory section" at)
if(at LESS 0)
  message(FATAL_ERROR "${PROGRAM} has no resources")
endif()
string(SUBSTRING "${dump}" ${at} -1 resources)
if(NOT resources MATCHES "Entry: ID: 0x000018, [^\n]*\n[^\n]*Name Table[^\n]*\n[^\n]*Entry: ID: 0x000001,")
  message(FATAL_ERROR "${PROGRAM} has no manifest resource (type 24, id 1):\n${resources}")
endif()

# The manifest's text sits in the resource section as it is.
execute_process(COMMAND ${OBJCOPY} -O binary --only-section=.rsrc ${PROGRAM} ${OUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objcopy could not copy the resources of ${PROGRAM}")
endif()
file(READ ${OUT} section)
file(REMOVE ${OUT})
foreach(needed
    "<requestedExecutionLevel level=\"requireAdministrator\""
    "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true</dpiAware>"
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"   # Windows 7
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}")  # Windows 10 and 11
  string(FIND "${section}" "${needed}" found)
  if(found LESS 0)
    message(FATAL_ERROR "the manifest of ${PROGRAM} lacks ${needed}")
  endif()
endforeach()
message(STATUS "${PROGRAM}: manifest embedded")
