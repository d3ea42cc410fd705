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
# Imports that Windows forwards to a library outside the KnownDLLs, as
# <dll>:<name pattern>: the loader resolves a forwarder while it binds the
# program's imports, before the program can restrict its library search, so
# that library is looked for beside the program. advapi32's SystemFunction0xx
# family (RtlGenRandom is SystemFunction036, RtlEncryptMemory 040 ...) goes to
# cryptbase.dll.
set(forwarded "advapi32.dll:SystemFunction0[0-9][0-9]")
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
  # Each DLL's block of the dump: its name, then its members, one per line.
  string(REPLACE "DLL Name: " ";" blocks "${dump}")
  list(POP_FRONT blocks)
  foreach(block IN LISTS blocks)
    string(REGEX MATCH "^[^\r\n]+" dll "${block}")
    string(STRIP "${dll}" dll)
    string(TOLOWER "${dll}" dll)
    foreach(rule IN LISTS forwarded)
      string(REPLACE ":" ";" rule "${rule}")
      list(GET rule 0 from)
      list(GET rule 1 pattern)
      if(dll STREQUAL from)
        string(REGEX MATCHALL "[\r\n][ \t]*[0-9a-fA-F]+[ \t]+[0-9]+[ \t]+${pattern}[\r\n]" hits "${block}")
        foreach(hit IN LISTS hits)
          string(REGEX MATCH "${pattern}" name "${hit}")
          list(APPEND failed "${file}: imports ${name} from ${dll}, which Windows forwards to a library that is no KnownDLL")
        endforeach()
      endif()
    endforeach()
  endforeach()
  if(NOT QUIET)
    message(STATUS "${file}: ${names}")
  endif()
endforeach()
if(failed)
  string(REPLACE ";" "\n" failed "${failed}")
  message(FATAL_ERROR "Imports beyond ${what}:\n${failed}")
endif()
