# Runs on the staged release tree just before CPack packs it (see
# NorzaPackage.cmake): prints the sizes of the binaries and of the device
# helper inside them, before signing, against their limits
# (CPACK_NORZA_SIZE_LIMITS: name, bytes, ...) and fails past one; signs the
# binaries when a certificate is given; writes SHA256SUMS over every file.
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

# Sizes as built, before signing adds its few kilobytes.
if(signing STREQUAL "unsigned")
  set(state "unsigned")
else()
  set(state "signed")
endif()
set(past "")
function(norza_report_size name file note)
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
  message(STATUS "${name}${note}: ${size} bytes (${kib} KiB) before signing${limit}, ${state}")
endfunction()
foreach(binary IN LISTS binaries)
  norza_report_size("${binary}" "${root}/${binary}" "")
endforeach()
if(helper)
  get_filename_component(name "${helper}" NAME)
  file(SIZE "${CPACK_NORZA_PACKED_HELPER}" packed)
  norza_report_size("${name}" "${CPACK_NORZA_DEVICE_HELPER}" " (carried inside the binaries, packed in ${packed} bytes)")
endif()
if(past)
  message(FATAL_ERROR "Past the size limit:${past}")
endif()

if(signing STREQUAL "unsigned")
  message(NOTICE "The package is NOT signed: set NORZA_SIGN_PFX (and NORZA_SIGN_PASSWORD) to sign its binaries.")
else()
  set(files "")
  foreach(binary IN LISTS binaries)
    list(APPEND files "${root}/${binary}")
  endforeach()
  norza_sign_files("${CPACK_NORZA_OSSLSIGNCODE}" "${CPACK_TOPLEVEL_DIRECTORY}/sign.private" ${files})
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
