# Read by cpack before it packs (CPACK_PROJECT_CONFIG_FILE): a package that
# nothing signs says so in its name. Stops when the environment names more
# than one way to sign.
include("${CMAKE_CURRENT_LIST_DIR}/NorzaSign.cmake")
norza_sign_way(_norza_way)
if(_norza_way STREQUAL "unsigned" AND NOT CPACK_PACKAGE_FILE_NAME MATCHES "-unsigned$")
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}-unsigned")
endif()
