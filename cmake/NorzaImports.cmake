# norza_known_dlls_only(<target>): the build of a shipped binary fails when
# it imports anything but Windows' KnownDLLs, and says which import broke it
# (cmake/check_imports.cmake).
if(WIN32)
  # The x86_64 objdump reads 32- and 64-bit programs alike.
  find_program(NORZA_PE_OBJDUMP NAMES x86_64-w64-mingw32-objdump ${NORZA_MINGW_TRIPLET}-objdump objdump REQUIRED)
endif()

function(norza_known_dlls_only target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${NORZA_PE_OBJDUMP} -DFILES=$<TARGET_FILE:${target}> -DKNOWN_DLLS_ONLY=ON
            -DQUIET=ON -P ${PROJECT_SOURCE_DIR}/cmake/check_imports.cmake
    COMMENT "Checking that $<TARGET_FILE_NAME:${target}> imports KnownDLLs only" VERBATIM)
endfunction()
