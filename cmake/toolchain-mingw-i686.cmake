# MinGW-w64 i686 (the shipped 32-bit build). The posix thread model is needed by GoogleTest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(NORZA_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
set(NORZA_WINE_ARCH win32)
