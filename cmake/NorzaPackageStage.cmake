# Runs on the staged release tree just before CPack packs it (see
# NorzaPackage.cmake): signs the binaries when a certificate is given, prints
# their sizes and writes SHA256SUMS over every file.
#
# Signing, from the environment of the packaging run:
#   NORZA_SIGN_PFX             PKCS#12 file with the code-signing key and certificate
#   NORZA_SIGN_PASSWORD        its password (unset for a file without one)
#   NORZA_SIGN_TIMESTAMP_URL   optional RFC 3161 time-stamping server
set(root "${CPACK_TEMPORARY_DIRECTORY}")
file(GLOB binaries RELATIVE "${root}" "${root}/bin/*.exe" "${root}/bin/*.dll")
list(SORT binaries)

set(pfx "$ENV{NORZA_SIGN_PFX}")
if(pfx)
  if(NOT EXISTS "${pfx}")
    message(FATAL_ERROR "NORZA_SIGN_PFX names ${pfx}, which does not exist")
  endif()
  if(NOT CPACK_NORZA_OSSLSIGNCODE)
    message(FATAL_ERROR "osslsigncode is needed to sign (scripts/bootstrap installs it)")
  endif()
  set(sign_args -pkcs12 "${pfx}" -h sha256 -n "Norza")
  # The password goes through a file in a directory only we can enter, never
  # on a command line other users can read.
  set(secret_dir "${CPACK_TOPLEVEL_DIRECTORY}/sign.private")
  file(REMOVE_RECURSE "${secret_dir}")
  if(DEFINED ENV{NORZA_SIGN_PASSWORD})
    file(MAKE_DIRECTORY "${secret_dir}")
    file(CHMOD "${secret_dir}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
    file(WRITE "${secret_dir}/password" "$ENV{NORZA_SIGN_PASSWORD}")
    list(APPEND sign_args -readpass "${secret_dir}/password")
  endif()
  if(NOT "$ENV{NORZA_SIGN_TIMESTAMP_URL}" STREQUAL "")
    list(APPEND sign_args -ts "$ENV{NORZA_SIGN_TIMESTAMP_URL}")
  endif()
  set(failed "")
  foreach(binary IN LISTS binaries)
    execute_process(
      COMMAND "${CPACK_NORZA_OSSLSIGNCODE}" sign ${sign_args} -in "${root}/${binary}" -out "${root}/${binary}.signed"
      RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(rc EQUAL 0)
      file(RENAME "${root}/${binary}.signed" "${root}/${binary}")
    else()
      string(APPEND failed "${binary}:\n${out}\n")
      break()
    endif()
  endforeach()
  file(REMOVE_RECURSE "${secret_dir}")
  if(failed)
    message(FATAL_ERROR "Signing failed, nothing was packed. ${failed}")
  endif()
  set(state "signed")
else()
  message(NOTICE "The package is NOT signed: set NORZA_SIGN_PFX (and NORZA_SIGN_PASSWORD) to sign its binaries.")
  set(state "unsigned")
endif()

foreach(binary IN LISTS binaries)
  file(SIZE "${root}/${binary}" size)
  math(EXPR kib "(${size} + 1023) / 1024")
  message(STATUS "${binary}: ${size} bytes (${kib} KiB), ${state}")
endforeach()

# Relative paths, in the form `sha256sum -c` reads.
file(GLOB_RECURSE files RELATIVE "${root}" "${root}/*")
list(REMOVE_ITEM files SHA256SUMS)
list(SORT files)
set(sums "")
foreach(f IN LISTS files)
  file(SHA256 "${root}/${f}" hash)
  string(APPEND sums "${hash}  ${f}\n")
endforeach()
file(WRITE "${root}/SHA256SUMS" "${sums}")
