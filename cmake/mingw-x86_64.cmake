# Cross-compiling ZV for Windows (x86_64) with Debian's MinGW-w64.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZV_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# Test programs run under 64-bit Wine (its loader itself: the wine wrapper
# says on every start that the 32-bit part is missing).
find_program(ZV_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(ZV_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZV_WINE})
endif()
