cmake_policy(VERSION 3.21)  # also when cpack or `cmake -P` reads this

# Authenticode signing of a release (SHA-256). The package step signs the
# outer binaries, and the build signs the device helper before the 32-bit
# binaries embed it; both the same way, read from the environment of their own
# run, so that no secret is kept in the build folder or named on a command line.
# One of three ways, never more:
#
#   a key on a PKCS#11 token or HSM (osslsigncode with Debian's PKCS#11 engine):
#     NORZA_SIGN_PKCS11_MODULE   the token's PKCS#11 library
#     NORZA_SIGN_PKCS11_KEY      the key, as a PKCS#11 URI ("pkcs11:token=...;object=...")
#     NORZA_SIGN_CERTS           the signing certificate, then its chain (PEM)
#     NORZA_SIGN_PIN             the token's PIN (unset: the token asks none)
#   an outside signing command (a cloud signing service's own tool):
#     NORZA_SIGN_COMMAND         run once per file, the file's path appended; it
#                                signs in place and finds NORZA_SIGN_DESCRIPTION
#                                and NORZA_SIGN_URL in its environment
#     NORZA_SIGN_CERTS           the certificate it signs with, as above
#   a PKCS#12 file:
#     NORZA_SIGN_PFX             the file with the key and certificate
#     NORZA_SIGN_PASSWORD        its password (unset for a file without one)
# and for each:
#   NORZA_SIGN_TIMESTAMP_URL     RFC 3161 time-stamping server (retried, then the build stops)
#   NORZA_SIGN_URL               the publisher's address, shown with the signature
#
# Whatever signs, each signed file is then checked: a signature with a SHA-256
# digest that matches the file, by the given certificate, with the file's own
# description (and the time-stamp when one was asked for).
#
# Run as a script, it makes the copy of a program that a binary embeds,
# signed when the environment says so:
#   cmake -DIN=<program> -DOUT=<copy> -DDESCRIPTION=<text> -DOSSLSIGNCODE=<path> -DOPENSSL=<path> -P NorzaSign.cmake
# <copy>.signing records how the copy was made (see norza_signing) and from
# which program; a copy already made so is left alone, so that nothing that
# embeds it is built again.

# The description each signature carries: the FileDescription of the
# binary's version resource, read from its .rc (where it is set once).
function(norza_file_description rc out_var)
  file(STRINGS "${rc}" line REGEX "^#define NORZA_FILE_DESCRIPTION ")
  string(REGEX REPLACE "^#define NORZA_FILE_DESCRIPTION \"(.*)\"$" "\\1" description "${line}")
  set(${out_var} "${description}" PARENT_SCOPE)
endfunction()

set(_norza_sign_retries 3)        # time-stamp attempts
set(_norza_sign_retry_seconds 5)  # between them

# The way the environment names: unsigned, pkcs11, command or pfx. Stops with
# a message naming what is set when that is more than one way, or a way
# without what it needs.
function(norza_sign_way out_var)
  set(ways "")
  foreach(pair IN ITEMS "pkcs11=NORZA_SIGN_PKCS11_MODULE" "pkcs11=NORZA_SIGN_PKCS11_KEY" "command=NORZA_SIGN_COMMAND"
                        "pfx=NORZA_SIGN_PFX")
    string(REPLACE "=" ";" pair "${pair}")
    list(GET pair 0 way)
    list(GET pair 1 name)
    if(NOT "$ENV{${name}}" STREQUAL "")
      list(APPEND ways ${way})
      list(APPEND named ${name})
    endif()
  endforeach()
  list(REMOVE_DUPLICATES ways)
  list(LENGTH ways count)
  string(REPLACE ";" ", " named "${named}")
  if(count EQUAL 0)
    set(${out_var} unsigned PARENT_SCOPE)
    return()
  endif()
  if(count GREATER 1)
    message(FATAL_ERROR "More than one way to sign is set (${named}): set the variables of one way only.")
  endif()
  set(needs "")
  if(ways STREQUAL "pkcs11")
    set(needs NORZA_SIGN_PKCS11_MODULE NORZA_SIGN_PKCS11_KEY NORZA_SIGN_CERTS)
  elseif(ways STREQUAL "command")
    set(needs NORZA_SIGN_CERTS)  # what each signed file is checked against
  endif()
  foreach(name IN LISTS needs)
    if("$ENV{${name}}" STREQUAL "")
      message(FATAL_ERROR "Signing with ${named} also needs ${name} (see cmake/NorzaSign.cmake).")
    endif()
  endforeach()
  foreach(name NORZA_SIGN_PFX NORZA_SIGN_CERTS NORZA_SIGN_PKCS11_MODULE)
    if(NOT "$ENV{${name}}" STREQUAL "" AND NOT EXISTS "$ENV{${name}}")
      message(FATAL_ERROR "${name} names $ENV{${name}}, which does not exist.")
    endif()
  endforeach()
  set(${out_var} ${ways} PARENT_SCOPE)
endfunction()

# A new folder that only this user may enter, outside the build folder: the
# password or PIN goes through a file there, never on a command line.
function(_norza_private_dir out_var)
  set(base "$ENV{TMPDIR}")
  if(NOT base)
    set(base /tmp)
  endif()
  string(RANDOM LENGTH 16 ALPHABET 0123456789abcdef suffix)
  set(dir "${base}/norza-sign-${suffix}")
  file(MAKE_DIRECTORY "${dir}")
  file(CHMOD "${dir}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  set(${out_var} "${dir}" PARENT_SCOPE)
endfunction()

function(_norza_run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed:\n${out}")
  endif()
  set(_norza_out "${out}" PARENT_SCOPE)
endfunction()

# The secret of `way` into <dir>/secret; sets <out_var> to the osslsigncode
# arguments that read it (none without one).
function(_norza_write_secret way dir out_var)
  set(name NORZA_SIGN_PASSWORD)
  if(way STREQUAL "pkcs11")
    set(name NORZA_SIGN_PIN)
  endif()
  set(${out_var} "" PARENT_SCOPE)
  if(DEFINED ENV{${name}})
    file(WRITE "${dir}/secret" "$ENV{${name}}")
    set(${out_var} -readpass "${dir}/secret" PARENT_SCOPE)
  endif()
endfunction()

# The signing certificate as <dir>/signer.pem, and its subject and SHA-256
# thumbprint (upper-case hexadecimal, as Windows shows it).
function(_norza_signer way dir openssl subject_var thumbprint_var)
  if(NOT openssl)
    message(FATAL_ERROR "openssl is needed to sign (scripts/bootstrap installs it)")
  endif()
  if(way STREQUAL "pfx")
    set(pass -passin pass:)
    if(EXISTS "${dir}/secret")
      set(pass -passin "file:${dir}/secret")
    endif()
    _norza_run("Reading the certificate of NORZA_SIGN_PFX" ${openssl} pkcs12 -in "$ENV{NORZA_SIGN_PFX}" -clcerts
      -nokeys ${pass} -out "${dir}/signer.pem")
  else()
    # The first certificate of the file is the signer's.
    _norza_run("Reading the certificate of NORZA_SIGN_CERTS" ${openssl} x509 -in "$ENV{NORZA_SIGN_CERTS}"
      -out "${dir}/signer.pem")
  endif()
  _norza_run("Reading the signer's subject" ${openssl} x509 -in "${dir}/signer.pem" -noout -subject -nameopt RFC2253)
  string(REGEX REPLACE "^subject=[ ]*" "" subject "${_norza_out}")
  string(STRIP "${subject}" subject)
  _norza_run("Reading the signer's thumbprint" ${openssl} x509 -in "${dir}/signer.pem" -noout -fingerprint -sha256)
  string(REGEX REPLACE "^.*=" "" thumbprint "${_norza_out}")
  string(REPLACE ":" "" thumbprint "${thumbprint}")
  string(STRIP "${thumbprint}" thumbprint)
  string(TOUPPER "${thumbprint}" thumbprint)
  set(${subject_var} "${subject}" PARENT_SCOPE)
  set(${thumbprint_var} "${thumbprint}" PARENT_SCOPE)
endfunction()

# How the environment signs, as one line: "unsigned", or the way, the
# signer's subject and thumbprint and the time-stamping server. Never a
# secret. Sets <prefix>_WAY, <prefix>_SUBJECT, <prefix>_THUMBPRINT too.
function(norza_signing openssl prefix)
  norza_sign_way(way)
  set(${prefix}_WAY ${way} PARENT_SCOPE)
  if(way STREQUAL "unsigned")
    set(${prefix} unsigned PARENT_SCOPE)
    return()
  endif()
  _norza_private_dir(dir)
  _norza_write_secret(${way} "${dir}" ignored)
  _norza_signer(${way} "${dir}" "${openssl}" subject thumbprint)
  file(REMOVE_RECURSE "${dir}")
  set(record "signed (${way}) by ${subject}, certificate SHA-256 ${thumbprint}")
  if(NOT "$ENV{NORZA_SIGN_TIMESTAMP_URL}" STREQUAL "")
    string(APPEND record ", time-stamped by $ENV{NORZA_SIGN_TIMESTAMP_URL}")
  endif()
  set(${prefix} "${record}" PARENT_SCOPE)
  set(${prefix}_SUBJECT "${subject}" PARENT_SCOPE)
  set(${prefix}_THUMBPRINT "${thumbprint}" PARENT_SCOPE)
endfunction()

# Signs each file in place, named by its description:
#   norza_sign_files(<osslsigncode> <openssl> <file> <description> [<file> <description>...])
# then time-stamps and checks each; stops the run at the first that fails.
function(norza_sign_files osslsigncode openssl)
  if(NOT osslsigncode)
    message(FATAL_ERROR "osslsigncode is needed to sign (scripts/bootstrap installs it)")
  endif()
  norza_sign_way(way)
  _norza_private_dir(dir)
  _norza_write_secret(${way} "${dir}" secret_args)
  _norza_signer(${way} "${dir}" "${openssl}" subject thumbprint)
  set(url "$ENV{NORZA_SIGN_URL}")
  set(timestamp "$ENV{NORZA_SIGN_TIMESTAMP_URL}")
  if(way STREQUAL "pkcs11")
    # A PKCS#11 URI separates its attributes with semicolons: one argument all the same.
    string(REPLACE ";" "\\;" key "$ENV{NORZA_SIGN_PKCS11_KEY}")
    set(key_args -pkcs11module "$ENV{NORZA_SIGN_PKCS11_MODULE}" -certs "$ENV{NORZA_SIGN_CERTS}" -key "${key}")
  elseif(way STREQUAL "pfx")
    set(key_args -pkcs12 "$ENV{NORZA_SIGN_PFX}")
  endif()
  set(failed "")
  set(files ${ARGN})
  while(files AND NOT failed)
    list(POP_FRONT files f description)
    file(REMOVE "${f}.signed" "${f}.stamped")
    if(way STREQUAL "command")
      # Split as a shell would; a semicolon (as in a PKCS#11 URI) stays inside its argument.
      string(REPLACE ";" "<semicolon>" command "$ENV{NORZA_SIGN_COMMAND}")
      separate_arguments(command UNIX_COMMAND "${command}")
      string(REPLACE "<semicolon>" "\\;" command "${command}")
      execute_process(COMMAND ${CMAKE_COMMAND} -E env "NORZA_SIGN_DESCRIPTION=${description}" "NORZA_SIGN_URL=${url}"
                              ${command} "${f}"
                      RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
    else()
      set(url_args "")
      if(url)
        set(url_args -i "${url}")
      endif()
      execute_process(COMMAND "${osslsigncode}" sign ${key_args} ${secret_args} -h sha256 -n "${description}"
                              ${url_args} -in "${f}" -out "${f}.signed"
                      RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
      if(rc EQUAL 0)
        file(RENAME "${f}.signed" "${f}")
      endif()
    endif()
    if(NOT rc EQUAL 0)
      set(failed "Signing ${f} failed:\n${out}")
      break()
    endif()
    # A release outlives its certificate only with a time-stamp: never made without one.
    if(timestamp)
      foreach(attempt RANGE 1 ${_norza_sign_retries})
        execute_process(COMMAND "${osslsigncode}" add -ts "${timestamp}" -h sha256 -in "${f}" -out "${f}.stamped"
                        RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
        if(rc EQUAL 0 OR attempt EQUAL _norza_sign_retries)
          break()
        endif()
        execute_process(COMMAND ${CMAKE_COMMAND} -E sleep ${_norza_sign_retry_seconds})
      endforeach()
      if(NOT rc EQUAL 0)
        set(failed "The time-stamping server ${timestamp} did not answer ${_norza_sign_retries} times: "
                   "no release is made without a time-stamp. ${f}:\n${out}")
        break()
      endif()
      file(RENAME "${f}.stamped" "${f}")
    endif()
    # Checked whatever signed it: the chain's root is the verifier's to trust.
    execute_process(COMMAND "${osslsigncode}" verify -require-leaf-hash "sha256:${thumbprint}" -in "${f}"
                    OUTPUT_VARIABLE out ERROR_VARIABLE out)
    set(missing "")
    foreach(expected "Message digest algorithm  : SHA256" "Leaf hash match: ok" "Text description: ${description}")
      string(FIND "${out}" "${expected}" at)
      if(at EQUAL -1)
        list(APPEND missing "${expected}")
      endif()
    endforeach()
    string(FIND "${out}" "MISMATCH" mismatch)
    string(FIND "${out}" "Timestamp time:" stamped)
    if(timestamp AND stamped EQUAL -1)
      list(APPEND missing "a time-stamp")
    endif()
    if(missing OR NOT mismatch EQUAL -1)
      string(REPLACE ";" ", " missing "${missing}")
      set(failed "${f} is not signed as asked (${subject}, SHA-256 ${thumbprint}): missing ${missing}\n${out}")
    endif()
  endwhile()
  file(REMOVE_RECURSE "${dir}")
  if(failed)
    message(FATAL_ERROR "${failed}")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  norza_signing("${OPENSSL}" signing)
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
    norza_sign_files("${OSSLSIGNCODE}" "${OPENSSL}" "${OUT}.part" "${DESCRIPTION}")
  endif()
  file(RENAME "${OUT}.part" "${OUT}")
  file(WRITE "${OUT}.signing" "${record}")
endif()
