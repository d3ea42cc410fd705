# The release: `cmake --build --preset windows-x86 --target package` makes
# Norza-<version>-win32.zip in the build folder (win64 for the x64 preset;
# -unsigned before .zip when nothing signs it):
#
#   bin/          kelvane.exe, tambrel.dll
#   include/      tambrel.h
#   lib/          libtambrel.dll.a (MinGW), tambrel.lib (Microsoft linker)
#   docs/         the installer guide (for installation programs of the package's
#                 bitness) and its sample installers (examples/)
#   RELEASE.txt   what it is: version, commit, signer, how to verify and rebuild it
#   CHANGELOG.md
#   SHA256SUMS
#
# cmake/NorzaPackageStage.cmake runs on the staged tree just before it is
# packed: it prints the binaries' sizes as built against their limits
# (failing the package past one), signs them as the environment of that run
# says (cmake/NorzaSign.cmake: nothing secret is kept in the build folder),
# and writes RELEASE.txt and SHA256SUMS. The device helper inside the 32-bit
# binaries is signed by the build, from the same environment: the package
# target builds first. The package is reproducible: the same commit, built in
# any folder at any time, gives the same bytes unsigned.

install(TARGETS kelvane tambrel RUNTIME DESTINATION bin)
install(FILES ${PROJECT_SOURCE_DIR}/installer/include/tambrel.h DESTINATION include)
install(FILES ${PROJECT_SOURCE_DIR}/docs/installer-guide.md DESTINATION docs)
install(FILES ${PROJECT_SOURCE_DIR}/docs/examples/norza-setup.nsi ${PROJECT_SOURCE_DIR}/docs/examples/norza-setup.iss
        DESTINATION docs/examples)
install(FILES ${PROJECT_SOURCE_DIR}/CHANGELOG.md DESTINATION .)

# Import libraries for callers that link tambrel.dll rather than load it. The
# one the DLL's own link writes names the x86 functions undecorated, which a
# caller's _InstallDev@20 does not find, so both are made from a .def.
find_program(NORZA_DLLTOOL ${NORZA_MINGW_TRIPLET}-dlltool REQUIRED)
find_program(NORZA_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)
find_program(NORZA_STRIP_NONDETERMINISM strip-nondeterminism REQUIRED)
set(_norza_import_dir ${CMAKE_BINARY_DIR}/import)
set(_norza_def ${CMAKE_CURRENT_LIST_DIR}/tambrel-import.def)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(_norza_import_args -m i386 -k)
  set(CPACK_SYSTEM_NAME win32)
else()
  set(_norza_import_args -m i386:x86-64)
  set(CPACK_SYSTEM_NAME win64)
  file(READ ${_norza_def} _norza_def_text)
  string(REGEX REPLACE "@[0-9]+( +@[0-9])" "\\1" _norza_def_text "${_norza_def_text}")
  set(_norza_def ${_norza_import_dir}/tambrel.def)
  file(GENERATE OUTPUT ${_norza_def} CONTENT "${_norza_def_text}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/tambrel-import.def)
endif()
set(_norza_import_libs ${_norza_import_dir}/libtambrel.dll.a ${_norza_import_dir}/tambrel.lib)
# Made inside their folder under relative names, with a fixed prefix for
# dlltool's members: nothing of the build folder goes into them (both tools
# write no times or owners).
add_custom_command(OUTPUT ${_norza_import_libs}
  COMMAND ${NORZA_DLLTOOL} ${_norza_import_args} -d ${_norza_def} -D tambrel.dll -t tambrel -l libtambrel.dll.a
  COMMAND ${NORZA_LLVM_DLLTOOL} ${_norza_import_args} -d ${_norza_def} -D tambrel.dll -l tambrel.lib
  WORKING_DIRECTORY ${_norza_import_dir}
  DEPENDS ${_norza_def}
  COMMENT "Making the import libraries of tambrel.dll" VERBATIM)
add_custom_target(tambrel_import_libs ALL DEPENDS ${_norza_import_libs})
install(FILES ${_norza_import_libs} DESTINATION lib)

find_program(NORZA_OSSLSIGNCODE osslsigncode)
find_program(NORZA_OPENSSL openssl)
find_package(Git QUIET)
set(CPACK_NORZA_OSSLSIGNCODE ${NORZA_OSSLSIGNCODE})
set(CPACK_NORZA_OPENSSL ${NORZA_OPENSSL})
set(CPACK_NORZA_GIT "${GIT_EXECUTABLE}")
set(CPACK_NORZA_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_NORZA_STRIP_NONDETERMINISM ${NORZA_STRIP_NONDETERMINISM})
set(CPACK_NORZA_EMBEDDED_HELPER ${NORZA_EMBEDDED_HELPER})  # empty where none is embedded
set(CPACK_NORZA_DEVICE_HELPER ${NORZA_DEVICE_HELPER_EXE})    # the same as built, unsigned
set(CPACK_NORZA_PACKED_HELPER ${NORZA_PACKED_HELPER})        # and as the binaries carry it
# Each binary as built, with the helper it carries unsigned (cmake/NorzaDeviceHelper.cmake),
# and what its signature names it.
set(CPACK_NORZA_AS_BUILT "")
set(CPACK_NORZA_DESCRIPTIONS "")
foreach(binary IN ITEMS controlpanel/kelvane.rc:kelvane.exe installer/tambrel.rc:tambrel.dll)
  string(REPLACE ":" ";" binary ${binary})
  list(GET binary 0 rc)
  list(GET binary 1 file)
  norza_file_description(${PROJECT_SOURCE_DIR}/${rc} description)
  list(APPEND CPACK_NORZA_DESCRIPTIONS bin/${file} "${description}")
  if(NORZA_AS_BUILT_DIR)
    list(APPEND CPACK_NORZA_AS_BUILT bin/${file} ${NORZA_AS_BUILT_DIR}/${file})
  endif()
endforeach()
# What each binary may weigh, in bytes, as built: an installation program
# carries tambrel.dll and unpacks it on every run.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(CPACK_NORZA_SIZE_LIMITS bin/kelvane.exe 314000 bin/tambrel.dll 50000 norza-device-helper.exe 30000)
else()
  set(CPACK_NORZA_SIZE_LIMITS bin/kelvane.exe 290000 bin/tambrel.dll 39987)
endif()
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Norza)
set(CPACK_PACKAGE_VENDOR Quorvin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME Norza-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
# Read when cpack runs: an unsigned package says so in its name.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/NorzaPackageName.cmake)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/NorzaPackageStage.cmake)
# The archive's entries in name order, with fixed times and no owners.
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/NorzaPackageNormalize.cmake)
set(CPACK_PACKAGE_CHECKSUM SHA256)  # Norza-...zip.sha256 beside the package
set(CPACK_VERBATIM_VARIABLES ON)
# `package_source` packs the sources only, never build output.
set(CPACK_SOURCE_IGNORE_FILES "/build/" "/\\.git/")
include(CPack)
