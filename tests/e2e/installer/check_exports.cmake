# Checks the export and import tables of tambrel.dll as objdump shows them:
#   cmake -DOBJDUMP=... -DDLL=... -P check_exports.cmake
# Exports: exactly CloseZDLWindow, InstallDev, GetDevicePresentCount at
# ordinals 1, 2, 3, undecorated. Imports: system DLLs only, so the DLL runs
# alone in an installer's temporary folder.
cmake_minimum_required(VERSION 3.21)
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${DLL}")
endif()

set(failures "")

string(REGEX MATCH "Ordinal Base[ \t]+([0-9]+)" _ "${dump}")
set(base ${CMAKE_MATCH_1})
if(NOT base STREQUAL "1")
  list(APPEND failures "ordinal base is '${base}', not 1")
endif()

# "[Ordinal/Name Pointer] Table" lines: "[   N] Name" with N = ordinal - base.
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table[^\n]*\n(([ \t]+\\[[^\n]*\n)+)" _ "${dump}")
set(table "${CMAKE_MATCH_1}")
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" entries "${table}")
set(found "")
foreach(entry ${entries})
  string(REGEX MATCH "\\[ *([0-9]+)\\] ([^ \t\n]+)" _ "${entry}")
  math(EXPR ordinal "${CMAKE_MATCH_1} + ${base}")
  list(APPEND found "${CMAKE_MATCH_2}=${ordinal}")
endforeach()
list(SORT found)
set(expected "CloseZDLWindow=1;GetDevicePresentCount=3;InstallDev=2")
if(NOT found STREQUAL expected)
  list(APPEND failures "exports are '${found}', expected '${expected}'")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
set(allowed kernel32.dll user32.dll setupapi.dll msvcrt.dll advapi32.dll cfgmgr32.dll ntdll.dll)
foreach(line ${imports})
  string(REGEX REPLACE "DLL Name: *" "" name "${line}")
  string(STRIP "${name}" name)
  string(TOLOWER "${name}" lower)
  if(NOT lower IN_LIST allowed AND NOT lower MATCHES "^api-ms-win-")
    list(APPEND failures "imports ${name}, not a system DLL")
  endif()
endforeach()
if(NOT imports)
  list(APPEND failures "no imports found: objdump output not understood")
endif()

if(failures)
  string(REPLACE ";" "\n  " text "${failures}")
  message(FATAL_ERROR "tambrel.dll:\n  ${text}")
endif()
message(STATUS "tambrel.dll: exports ${found}; imports ${imports}")
