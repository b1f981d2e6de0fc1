# Checks a built DLL from its headers alone, with no Windows loader: the
# image format, exactly the undecorated export names it must have, and
# imports from system DLLs only. Runs natively, so a tree whose programs this
# machine cannot start is still checked.
#
#   cmake -DOBJDUMP=... -DFILE=... -DFORMAT=pei-i386 -DEXPORTS=A,B,C -P CheckPeImage.cmake
cmake_minimum_required(VERSION 3.20)

foreach(var OBJDUMP FILE FORMAT EXPORTS)
  if(NOT ${var})
    message(FATAL_ERROR "CheckPeImage.cmake needs -D${var}=...")
  endif()
endforeach()

# DLLs every Windows installation has; anything else would have to ship.
set(system_dlls ADVAPI32.DLL KERNEL32.DLL MSVCRT.DLL OLE32.DLL OLEAUT32.DLL SHELL32.DLL USER32.DLL NTDLL.DLL)

execute_process(COMMAND "${OBJDUMP}" -p "${FILE}" OUTPUT_VARIABLE dump ERROR_VARIABLE error RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${FILE} exited with ${rc}: ${error}")
endif()

set(failures "")
if(NOT dump MATCHES "file format ${FORMAT}\n")
  string(REGEX MATCH "file format [^\n]*" found "${dump}")
  list(APPEND failures "expected file format ${FORMAT}, found '${found}'")
endif()

# Export names follow the "[Ordinal/Name Pointer] Table" heading.
set(exports "")
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" at)
if(at GREATER -1)
  string(SUBSTRING "${dump}" ${at} -1 table)
  string(REGEX MATCHALL "\n\t\\[ *[0-9]+\\] [^\n]+" lines "${table}")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^\n\t\\[ *[0-9]+\\] " "" name "${line}")
    list(APPEND exports "${name}")
  endforeach()
endif()
string(REPLACE "," ";" expected "${EXPORTS}")
list(SORT expected)
list(SORT exports)
if(NOT exports STREQUAL expected)
  list(JOIN exports ", " found)
  list(JOIN expected ", " wanted)
  list(APPEND failures "exports are '${found}', expected '${wanted}'")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
foreach(line IN LISTS imports)
  string(REGEX REPLACE "^DLL Name: " "" dll "${line}")
  string(TOUPPER "${dll}" dll_upper)
  if(NOT dll_upper IN_LIST system_dlls)
    list(APPEND failures "imports from ${dll}, which is no system DLL")
  endif()
endforeach()
if(NOT imports)
  list(APPEND failures "no import table found")
endif()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "${FILE}:\n  ${text}")
endif()
list(LENGTH exports count)
message("${FILE}: ${FORMAT}, ${count} exports as expected, system imports only")
