# Cross-compiling ZV for Windows (i686) with Debian's MinGW-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ZV_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# Test programs run under Wine (its 32-bit part, wine32).
find_program(ZV_WINE wine)
if(ZV_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZV_WINE})
endif()
