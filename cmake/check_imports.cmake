# cmake -DOBJDUMP=<objdump> -DFILES=<a;b;...> [-DKNOWN_DLLS_ONLY=ON] -P check_imports.cmake
# Fails when a program imports anything but system DLLs: a runtime DLL
# (libstdc++, libgcc, libwinpthread) would have to ship beside it.
# KNOWN_DLLS_ONLY (the shipped binaries): Windows' KnownDLLs alone. For any
# other library Windows looks in the program's own folder first, and an
# installation program or a downloaded panel lies in one the user can write:
# what such a library offers is loaded at run time from the system folder.
cmake_minimum_required(VERSION 3.21)
# Windows 10 and 11 (HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs);
# ntdll is always loaded.
set(known
  advapi32.dll clbcatq.dll combase.dll comdlg32.dll coml2.dll difxapi.dll gdi32.dll gdiplus.dll imagehlp.dll
  imm32.dll kernel32.dll msctf.dll msvcrt.dll normaliz.dll nsi.dll ole32.dll oleaut32.dll psapi.dll rpcrt4.dll
  sechost.dll setupapi.dll shcore.dll shell32.dll shlwapi.dll user32.dll wldap32.dll ws2_32.dll ntdll.dll)
set(system ${known} cfgmgr32.dll winmm.dll comctl32.dll version.dll)
if(KNOWN_DLLS_ONLY)
  set(allowed ${known})
  set(what "KnownDLLs")
else()
  set(allowed ${system})
  set(what "system DLLs")
endif()
set(failed "")
foreach(file IN LISTS FILES)
  execute_process(COMMAND ${OBJDUMP} -p ${file} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    list(APPEND failed "${file}: objdump failed")
    continue()
  endif()
  string(REGEX MATCHALL "DLL Name: [^\r\n]+" names "${dump}")
  if(NOT names)
    list(APPEND failed "${file}: no imports found")
  endif()
  foreach(line IN LISTS names)
    string(REPLACE "DLL Name: " "" dll "${line}")
    string(STRIP "${dll}" dll)
    string(TOLOWER "${dll}" dll)
    if(NOT dll IN_LIST allowed AND (KNOWN_DLLS_ONLY OR NOT dll MATCHES "^api-ms-win-"))
      list(APPEND failed "${file}: imports ${dll}")
    endif()
  endforeach()
  if(NOT QUIET)
    message(STATUS "${file}: ${names}")
  endif()
endforeach()
if(failed)
  string(REPLACE ";" "\n" failed "${failed}")
  message(FATAL_ERROR "Imports beyond ${what}:\n${failed}")
endif()
