# Runs on the staged release tree just before CPack packs it (see
# NorzaPackage.cmake): prints each binary's size as built against its limit
# (CPACK_NORZA_SIZE_LIMITS: name, bytes, ...) and fails past one; signs the
# binaries as the environment says (NorzaSign.cmake) and prints what signing
# added; keeps the installer guide's text for the package's bitness; writes
# RELEASE.txt and SHA256SUMS over every file.
#
# The device helper inside the 32-bit binaries was signed (or not) when they
# were built; a package is made only when that matches what this run signs
# with.
include("${CMAKE_CURRENT_LIST_DIR}/NorzaSign.cmake")
set(root "${CPACK_TEMPORARY_DIRECTORY}")
file(GLOB binaries RELATIVE "${root}" "${root}/bin/*.exe" "${root}/bin/*.dll")
list(SORT binaries)

norza_signing("${CPACK_NORZA_OPENSSL}" signing)
set(helper "${CPACK_NORZA_EMBEDDED_HELPER}")
if(helper)
  set(made "")
  if(EXISTS "${helper}.signing")
    file(STRINGS "${helper}.signing" made LIMIT_COUNT 1)
  endif()
  if(NOT made STREQUAL signing)
    message(FATAL_ERROR "The device helper inside the binaries was built ${made}, but this package is to be "
      "${signing}. Build again in this environment first: `cmake --build <build folder> --target package` "
      "builds and packs.")
  endif()
endif()

# Sizes as built: the limits judge the bytes the project makes, never the
# signer's certificates (a signed helper inside a binary carries them too).
function(norza_size_as_built name file note)
  file(SIZE "${file}" size)
  math(EXPR kib "(${size} + 1023) / 1024")
  list(FIND CPACK_NORZA_SIZE_LIMITS "${name}" at)
  set(limit "")
  if(at GREATER -1)
    math(EXPR at "${at} + 1")
    list(GET CPACK_NORZA_SIZE_LIMITS ${at} limit)
    if(size GREATER limit)
      set(past "${past} ${name}" PARENT_SCOPE)
    endif()
    set(limit ", at most ${limit}")
  endif()
  message(STATUS "${name}${note}: ${size} bytes (${kib} KiB) as built${limit}")
  set(as_built_${name} ${size} PARENT_SCOPE)
endfunction()
set(past "")
foreach(binary IN LISTS binaries)
  set(file "${root}/${binary}")
  list(FIND CPACK_NORZA_AS_BUILT "${binary}" at)
  if(at GREATER -1)
    math(EXPR at "${at} + 1")
    list(GET CPACK_NORZA_AS_BUILT ${at} file)  # its twin with the helper unsigned
  endif()
  norza_size_as_built("${binary}" "${file}" "")
endforeach()
if(helper)
  get_filename_component(name "${helper}" NAME)
  file(SIZE "${CPACK_NORZA_PACKED_HELPER}" packed)
  norza_size_as_built("${name}" "${CPACK_NORZA_DEVICE_HELPER}" " (carried inside the binaries, packed in ${packed} bytes)")
endif()
if(past)
  message(FATAL_ERROR "Past the size limit:${past}")
endif()

if(signing STREQUAL "unsigned")
  message(NOTICE "The package is NOT signed: its name says so. cmake/NorzaSign.cmake (or README.md, "
    "\"Making a release\") tells how to sign it.")
else()
  set(files "")
  foreach(binary IN LISTS binaries)
    file(SIZE "${root}/${binary}" before_${binary})
    list(FIND CPACK_NORZA_DESCRIPTIONS "${binary}" at)
    math(EXPR at "${at} + 1")
    list(GET CPACK_NORZA_DESCRIPTIONS ${at} description)
    list(APPEND files "${root}/${binary}" "${description}")
  endforeach()
  norza_sign_files("${CPACK_NORZA_OSSLSIGNCODE}" "${CPACK_NORZA_OPENSSL}" ${files})
  foreach(binary IN LISTS binaries)
    file(SIZE "${root}/${binary}" signed)
    math(EXPR added "${signed} - ${as_built_${binary}}")
    math(EXPR own "${signed} - ${before_${binary}}")
    math(EXPR embedded "${before_${binary}} - ${as_built_${binary}}")
    set(parts "its own signature ${own}")
    if(helper)
      string(APPEND parts ", the embedded helper's ${embedded}")
    endif()
    message(STATUS "${binary}: ${signed} bytes signed: signing added ${added} (${parts})")
  endforeach()
endif()

# The installer guide speaks to the installation programs of this package's
# bitness: of the blocks "<!-- package:win32 -->" ... "<!-- package:end -->"
# (and win64), only this package's stays, without its markers.
set(guide "${root}/docs/installer-guide.md")
if(EXISTS "${guide}")
  file(READ "${guide}" text)
  foreach(system win32 win64)
    set(begin "<!-- package:${system} -->\n")
    if(system STREQUAL CPACK_SYSTEM_NAME)
      string(REPLACE "${begin}" "" text "${text}")
      continue()
    endif()
    string(FIND "${text}" "${begin}" at)
    while(at GREATER -1)
      string(SUBSTRING "${text}" 0 ${at} kept)
      string(SUBSTRING "${text}" ${at} -1 rest)
      string(FIND "${rest}" "<!-- package:end -->\n" end)
      if(end EQUAL -1)
        message(FATAL_ERROR "docs/installer-guide.md: a package:${system} block without its end")
      endif()
      math(EXPR end "${end} + 21")
      string(SUBSTRING "${rest}" ${end} -1 rest)
      set(text "${kept}${rest}")
      string(FIND "${text}" "${begin}" at)
    endwhile()
  endforeach()
  string(REPLACE "<!-- package:end -->\n" "" text "${text}")
  file(WRITE "${guide}" "${text}")
endif()

# RELEASE.txt: what the package is, for whoever receives it. Nothing of the
# build folder or the moment, so that a rebuild from the commit compares.
set(commit "unknown (not built from a git checkout)")
if(CPACK_NORZA_GIT AND EXISTS "${CPACK_NORZA_SOURCE_DIR}/.git")
  execute_process(COMMAND "${CPACK_NORZA_GIT}" -C "${CPACK_NORZA_SOURCE_DIR}" rev-parse HEAD
                  OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND "${CPACK_NORZA_GIT}" -C "${CPACK_NORZA_SOURCE_DIR}" status --porcelain --untracked-files=no
                  OUTPUT_VARIABLE changes)
  if(changes)
    string(APPEND commit ", with changes that are not committed (so not rebuildable from it)")
  endif()
endif()
if(CPACK_SYSTEM_NAME STREQUAL "win64")
  set(bits "64-bit")
  set(preset windows-x64)
else()
  set(bits "32-bit")
  set(preset windows-x86)
endif()
set(names "")
foreach(binary IN LISTS binaries)
  list(FIND CPACK_NORZA_DESCRIPTIONS "${binary}" at)
  if(at GREATER -1)
    math(EXPR at "${at} + 1")
    list(GET CPACK_NORZA_DESCRIPTIONS ${at} description)
    string(APPEND names "  ${binary}  ${description}\n")
  endif()
endforeach()
if(signing STREQUAL "unsigned")
  set(signed_text "Signed:       NO. Windows names an unknown publisher for these binaries, and its
              consent prompt for the control panel says so: this package is for
              testing, not for users.
")
  set(check "")
else()
  set(stamp "not time-stamped: the signatures end when the certificate expires")
  if(NOT "$ENV{NORZA_SIGN_TIMESTAMP_URL}" STREQUAL "")
    set(stamp "time-stamped by $ENV{NORZA_SIGN_TIMESTAMP_URL}")
  endif()
  set(signed_text "Signed:       yes (Authenticode, SHA-256), by
                ${signing_SUBJECT}
              certificate SHA-256 thumbprint
                ${signing_THUMBPRINT}
              ${stamp}
")
  if(helper)
    string(APPEND signed_text "              The device helper that the binaries carry is signed alike.\n")
  endif()
  set(check "
Checking the signatures
  On Windows, in PowerShell (Status: Valid, and the thumbprint above):
    Get-AuthenticodeSignature bin\\*.exe, bin\\*.dll | Format-List Path, Status, StatusMessage
    (Get-AuthenticodeSignature bin\\kelvane.exe).SignerCertificate.GetCertHashString('SHA256')
  or with the Windows SDK: signtool verify /pa /v bin\\kelvane.exe
  With osslsigncode, each file:
    osslsigncode verify -require-leaf-hash sha256:${signing_THUMBPRINT} -in bin/kelvane.exe
")
endif()
file(WRITE "${root}/RELEASE.txt" "Norza ${CPACK_PACKAGE_VERSION}, ${bits} (${CPACK_SYSTEM_NAME})
Quorvin's Windows support software for the Norza USB audio interface.

Built from:   commit ${commit}
${signed_text}
Binaries:
${names}
Every file's SHA-256 is in SHA256SUMS (`sha256sum -c SHA256SUMS`); what changed
is in CHANGELOG.md; docs/installer-guide.md is for installation programs that
ship tambrel.dll.
${check}
Rebuilding to compare
  The same commit gives the same unsigned package, byte for byte, wherever and
  whenever it is built:
    git checkout <the commit above>
    cmake --preset ${preset} -DBUILD_TESTING=OFF
    cmake --build --preset ${preset} --target package
  makes Norza-${CPACK_PACKAGE_VERSION}-${CPACK_SYSTEM_NAME}-unsigned.zip. A signed package differs from it in
  its name, RELEASE.txt and SHA256SUMS, and in the binaries' signatures (and
  those of the helper that the 32-bit binaries carry); every other byte is
  the same.
")

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
