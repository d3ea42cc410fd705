# Authenticode signing with the release certificate: the package step signs
# the outer binaries with it, and the build signs the device helper with it
# before the helper is embedded. Both read the certificate from the
# environment of their own run, so no secret is kept in the build folder:
#   NORZA_SIGN_PFX             PKCS#12 file with the code-signing key and certificate
#   NORZA_SIGN_PASSWORD        its password (unset for a file without one)
#   NORZA_SIGN_TIMESTAMP_URL   optional RFC 3161 time-stamping server
#
# Run as a script, it makes the copy of a program that a binary embeds,
# signed when a certificate is given:
#   cmake -DIN=<program> -DOUT=<copy> -DOSSLSIGNCODE=<path> -P NorzaSign.cmake
# <copy>.signing records how the copy was made (see norza_signing) and from
# which program; a copy already made so is left alone, so that nothing that
# embeds it is built again.

# "unsigned", or which certificate and time-stamping server sign: the
# certificate file by its path and digest, never its password.
function(norza_signing out_var)
  set(pfx "$ENV{NORZA_SIGN_PFX}")
  if(NOT pfx)
    set(${out_var} "unsigned" PARENT_SCOPE)
    return()
  endif()
  if(NOT EXISTS "${pfx}")
    message(FATAL_ERROR "NORZA_SIGN_PFX names ${pfx}, which does not exist")
  endif()
  file(SHA256 "${pfx}" digest)
  set(signing "signed with ${pfx} (SHA-256 ${digest})")
  if(NOT "$ENV{NORZA_SIGN_TIMESTAMP_URL}" STREQUAL "")
    string(APPEND signing ", time-stamped by $ENV{NORZA_SIGN_TIMESTAMP_URL}")
  endif()
  set(${out_var} "${signing}" PARENT_SCOPE)
endfunction()

# Signs each file named after `secret_dir` in place (SHA-256), or stops the
# run at the first that fails. `secret_dir` is a scratch directory.
function(norza_sign_files osslsigncode secret_dir)
  if(NOT osslsigncode)
    message(FATAL_ERROR "osslsigncode is needed to sign (scripts/bootstrap installs it)")
  endif()
  set(sign_args -pkcs12 "$ENV{NORZA_SIGN_PFX}" -h sha256 -n "Norza")
  # The password goes through a file in a directory only we can enter, never
  # on a command line other users can read.
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
  foreach(f IN LISTS ARGN)
    file(REMOVE "${f}.signed")
    execute_process(COMMAND "${osslsigncode}" sign ${sign_args} -in "${f}" -out "${f}.signed"
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT rc EQUAL 0)
      set(failed "${f}:\n${out}")
      break()
    endif()
    file(RENAME "${f}.signed" "${f}")
  endforeach()
  file(REMOVE_RECURSE "${secret_dir}")
  if(failed)
    message(FATAL_ERROR "Signing failed. ${failed}")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  norza_signing(signing)
  file(SHA256 "${IN}" digest)
  set(record "${signing}\nfrom ${IN} (SHA-256 ${digest})\n")
  if(EXISTS "${OUT}" AND EXISTS "${OUT}.signing")
    file(READ "${OUT}.signing" made)
    if(made STREQUAL record)
      return()
    endif()
  endif()
  file(REMOVE "${OUT}.signing")
  file(COPY_FILE "${IN}" "${OUT}.part")
  if(NOT signing STREQUAL "unsigned")
    norza_sign_files("${OSSLSIGNCODE}" "${OUT}.sign.private" "${OUT}.part")
  endif()
  file(RENAME "${OUT}.part" "${OUT}")
  file(WRITE "${OUT}.signing" "${record}")
endif()
