# Runs on the staged release tree just before CPack packs it (see
# NorzaPackage.cmake): signs the binaries when a certificate is given, prints
# their sizes and the device helper's inside them, and writes SHA256SUMS
# over every file.
#
# Signing: see NorzaSign.cmake. The device helper inside the 32-bit binaries
# was signed (or not) when they were built; a package is made only when that
# matches what this run signs with.
include("${CMAKE_CURRENT_LIST_DIR}/NorzaSign.cmake")
set(root "${CPACK_TEMPORARY_DIRECTORY}")
file(GLOB binaries RELATIVE "${root}" "${root}/bin/*.exe" "${root}/bin/*.dll")
list(SORT binaries)

norza_signing(signing)
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

if(signing STREQUAL "unsigned")
  message(NOTICE "The package is NOT signed: set NORZA_SIGN_PFX (and NORZA_SIGN_PASSWORD) to sign its binaries.")
  set(state "unsigned")
else()
  set(files "")
  foreach(binary IN LISTS binaries)
    list(APPEND files "${root}/${binary}")
  endforeach()
  norza_sign_files("${CPACK_NORZA_OSSLSIGNCODE}" "${CPACK_TOPLEVEL_DIRECTORY}/sign.private" ${files})
  set(state "signed")
endif()

foreach(binary IN LISTS binaries)
  file(SIZE "${root}/${binary}" size)
  math(EXPR kib "(${size} + 1023) / 1024")
  message(STATUS "${binary}: ${size} bytes (${kib} KiB), ${state}")
endforeach()
if(helper)
  file(SIZE "${helper}" size)
  math(EXPR kib "(${size} + 1023) / 1024")
  get_filename_component(name "${helper}" NAME)
  message(STATUS "${name} (carried inside the binaries): ${size} bytes (${kib} KiB), ${state}")
endif()

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
