# Runs on the packed archive (CPACK_POST_BUILD_SCRIPTS): its entries in name
# order, with fixed times, permissions and no owners, so the same staged tree
# gives the same bytes wherever and whenever it is packed.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND "${CPACK_NORZA_STRIP_NONDETERMINISM}" -t zip "${package}"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "Normalizing ${package} failed:\n${out}")
  endif()
endforeach()
