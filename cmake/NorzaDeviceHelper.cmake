# On 64-bit Windows a 32-bit process may not change device states or update
# drivers, so the 32-bit kelvane.exe and tambrel.dll carry a 64-bit helper as
# a resource and start it there. The 32-bit build makes the helper with the
# x86_64 toolchain in a sub-build of this same source tree.
#
# norza_embed_device_helper(<target>) puts the helper into <target>'s
# resources. A 64-bit program makes its device calls itself and embeds
# nothing. The helper only ever runs with its caller's own rights.
#
# The order: the helper is signed, then packed (its size and SHA-256, then
# LZNT1: cmake/pack_helper.py), then embedded. The binaries unpack it with
# ntdll's RtlDecompressBuffer and write, compare and start exactly the signed
# helper.

# norza_pack_image(<name> <program> <packed> [DEPENDS <targets>...]) adds
# target <name>, which makes <packed> from <program>.
if(WIN32)
  find_package(Python3 COMPONENTS Interpreter REQUIRED)
endif()
function(norza_pack_image name program packed)
  cmake_parse_arguments(P "" "" "DEPENDS" ${ARGN})
  add_custom_command(OUTPUT ${packed}
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/pack_helper.py ${program} ${packed}
    DEPENDS ${program} ${PROJECT_SOURCE_DIR}/cmake/pack_helper.py
    COMMENT "Packing ${program} (LZNT1)" VERBATIM)
  add_custom_target(${name} DEPENDS ${packed})
  if(P_DEPENDS)
    add_dependencies(${name} ${P_DEPENDS})
  endif()
endfunction()

# norza_signed_copy(<name> <program> <copy> <description> [DEPENDS <targets>...])
# adds target <name>, which makes the copy of <program> that a binary embeds
# on every build: signed, with <description>, when the build's environment
# says so (cmake/NorzaSign.cmake), unchanged otherwise. The copy is written
# again only when the program or the signing changed.
include(${CMAKE_CURRENT_LIST_DIR}/NorzaSign.cmake)
function(norza_signed_copy name program copy description)
  cmake_parse_arguments(C "" "" "DEPENDS" ${ARGN})
  find_program(NORZA_OSSLSIGNCODE osslsigncode)
  find_program(NORZA_OPENSSL openssl)
  add_custom_target(${name}
    COMMAND ${CMAKE_COMMAND} -DIN=${program} -DOUT=${copy} -DDESCRIPTION=${description}
            -DOSSLSIGNCODE=${NORZA_OSSLSIGNCODE} -DOPENSSL=${NORZA_OPENSSL} -P ${PROJECT_SOURCE_DIR}/cmake/NorzaSign.cmake
    BYPRODUCTS ${copy}
    COMMENT "Making the copy of ${program} to embed (signed when the environment names a signer)" VERBATIM)
  if(C_DEPENDS)
    add_dependencies(${name} ${C_DEPENDS})
  endif()
endfunction()

set(NORZA_EMBED_DEVICE_HELPER OFF)
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4 AND NOT NORZA_HELPER_ONLY)
  set(NORZA_EMBED_DEVICE_HELPER ON)
endif()

if(NORZA_EMBED_DEVICE_HELPER)
  include(ExternalProject)
  set(NORZA_HELPER_BUILD_DIR ${CMAKE_BINARY_DIR}/device-helper-x64)
  set(NORZA_DEVICE_HELPER_EXE ${NORZA_HELPER_BUILD_DIR}/devicehelper/norza-device-helper.exe)
  # A 64-bit class installer that the tests have the helper load.
  set(NORZA_TEST_CLASS_INSTALLER_X64
      ${NORZA_HELPER_BUILD_DIR}/tests/e2e/installer/class_installer/norza_test_class_installer.dll)
  ExternalProject_Add(device_helper_x64
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${NORZA_HELPER_BUILD_DIR}
    CMAKE_GENERATOR ${CMAKE_GENERATOR}
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/toolchain-mingw-x86_64.cmake
      -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
      -DNORZA_HELPER_ONLY=ON
      -DNORZA_WERROR=${NORZA_WERROR}
      -DBUILD_TESTING=${BUILD_TESTING}
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR>
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${NORZA_DEVICE_HELPER_EXE} ${NORZA_TEST_CLASS_INSTALLER_X64})

  # The copy embedded, signed in a signed release: the package step reads it too.
  set(NORZA_EMBEDDED_HELPER ${CMAKE_BINARY_DIR}/generated/embedded/norza-device-helper.exe)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/generated/embedded)
  norza_file_description(${PROJECT_SOURCE_DIR}/devicehelper/helper.rc helper_description)
  norza_signed_copy(device_helper_embedded ${NORZA_DEVICE_HELPER_EXE} ${NORZA_EMBEDDED_HELPER} "${helper_description}"
    DEPENDS device_helper_x64)
  set(NORZA_PACKED_HELPER ${CMAKE_BINARY_DIR}/generated/embedded/norza-device-helper.packed)
  norza_pack_image(device_helper_packed ${NORZA_EMBEDDED_HELPER} ${NORZA_PACKED_HELPER} DEPENDS device_helper_embedded)
  # The helper as built, unsigned, for the binaries' twins (below).
  set(NORZA_PACKED_HELPER_AS_BUILT ${CMAKE_BINARY_DIR}/generated/embedded/norza-device-helper.as-built.packed)
  norza_pack_image(device_helper_packed_as_built ${NORZA_DEVICE_HELPER_EXE} ${NORZA_PACKED_HELPER_AS_BUILT}
    DEPENDS device_helper_x64)
  foreach(kind "" .as-built)
    string(REPLACE ".packed" "${kind}.packed" packed ${NORZA_PACKED_HELPER})
    file(WRITE ${CMAKE_BINARY_DIR}/generated/device_helper${kind}.rc
      "// Generated: the 64-bit device helper, packed, carried as a resource.\n"
      "NORZA_DEVICE_HELPER RCDATA \"${packed}\"\n")
  endforeach()
  # Where the twins go; the package step reads them.
  set(NORZA_AS_BUILT_DIR ${CMAKE_BINARY_DIR}/as-built)
endif()

# The size limits judge a binary as the project builds it, with the helper it
# carries unsigned: a signed helper grows by its signer's certificates. So a
# binary that embeds the helper has a twin, linked from the same sources and
# settings with the unsigned helper, in NORZA_AS_BUILT_DIR; unsigned, the two
# are the same bytes.
function(_norza_as_built_twin target rc)
  get_target_property(type ${target} TYPE)
  get_target_property(sources ${target} SOURCES)
  set(twin ${target}_as_built)
  if(type STREQUAL "EXECUTABLE")
    add_executable(${twin} ${sources} ${rc})
  else()
    add_library(${twin} SHARED ${sources} ${rc})
  endif()
  set_target_properties(${twin} PROPERTIES OUTPUT_NAME ${target} DEFINE_SYMBOL ${target}_EXPORTS
    RUNTIME_OUTPUT_DIRECTORY ${NORZA_AS_BUILT_DIR} ARCHIVE_OUTPUT_DIRECTORY ${NORZA_AS_BUILT_DIR})
  foreach(property LINK_LIBRARIES INCLUDE_DIRECTORIES COMPILE_OPTIONS COMPILE_DEFINITIONS LINK_OPTIONS OUTPUT_NAME
                   PREFIX WIN32_EXECUTABLE INTERPROCEDURAL_OPTIMIZATION)
    get_target_property(value ${target} ${property})
    if(NOT value STREQUAL "value-NOTFOUND")
      set_property(TARGET ${twin} PROPERTY ${property} "${value}")
    endif()
  endforeach()
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${NORZA_PACKED_HELPER_AS_BUILT})
  add_dependencies(${twin} device_helper_packed_as_built)
endfunction()

# Call last, once <target> is complete: its twin copies its settings.
function(norza_embed_device_helper target)
  if(NOT NORZA_EMBEDDED_HELPER)
    return()
  endif()
  _norza_as_built_twin(${target} ${CMAKE_BINARY_DIR}/generated/device_helper.as-built.rc)
  set(rc ${CMAKE_BINARY_DIR}/generated/device_helper.rc)
  target_sources(${target} PRIVATE ${rc})
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${NORZA_PACKED_HELPER})
  add_dependencies(${target} device_helper_packed)
endfunction()
