set(CMAKE_C_COMPILER ${NORZA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NORZA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${NORZA_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${NORZA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Both binaries ship alone: the C and C++ runtimes and winpthread are linked in,
# so nothing but system DLLs is imported.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
