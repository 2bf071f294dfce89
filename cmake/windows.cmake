# The library on Windows: every source above src/platform/posix/ over the
# real <windows.h>, linked with the module definition file, so zv.dll exports
# exactly the names of src/zv.def (aliases included).
if(ZV_SANITIZE)
  message(FATAL_ERROR "ZV_SANITIZE is for the POSIX build")
endif()

find_package(Threads REQUIRED)

add_library(zv_warnings INTERFACE)
if(MINGW)
  target_compile_options(zv_warnings INTERFACE -Wall -Wextra -Werror)
  # Every program and the DLL carry their C and C++ runtime (the -posix
  # runtime's threads included), so they need only Windows' own DLLs.
  add_link_options(-static -static-libgcc -static-libstdc++)
else()
  # Visual Studio (untested): the static runtime, for the same reason.
  target_compile_options(zv_warnings INTERFACE /W3)
  set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
endif()

file(GLOB_RECURSE ZV_SOURCES CONFIGURE_DEPENDS
     ${CMAKE_SOURCE_DIR}/src/frame/*.cpp ${CMAKE_SOURCE_DIR}/src/os/*.cpp
     ${CMAKE_SOURCE_DIR}/src/containers/*.cpp ${CMAKE_SOURCE_DIR}/src/uri/*.cpp
     ${CMAKE_SOURCE_DIR}/src/components/*.cpp ${CMAKE_SOURCE_DIR}/src/config/*.cpp)
list(REMOVE_ITEM ZV_SOURCES ${CMAKE_SOURCE_DIR}/src/frame/module_entry.cpp)
list(SORT ZV_SOURCES)

# Compiled once for both forms; only the module entry differs.
add_library(zv_objects OBJECT ${ZV_SOURCES})
target_compile_definitions(zv_objects PUBLIC ZV_BUILDING_LIBRARY)
target_include_directories(zv_objects
  PUBLIC $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include>
  PRIVATE ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(zv_objects PRIVATE zv_warnings)

# zv.dll and its import library (libzv.dll.a).  The .def file's LIBRARY
# name is the file's name.
add_library(zv SHARED $<TARGET_OBJECTS:zv_objects> ${CMAKE_SOURCE_DIR}/src/frame/module_entry.cpp
            ${CMAKE_SOURCE_DIR}/src/zv.def)
set_target_properties(zv PROPERTIES PREFIX "" OUTPUT_NAME zv)
target_compile_definitions(zv PRIVATE ZV_BUILDING_LIBRARY)
target_include_directories(zv PUBLIC $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include>
                                     $<INSTALL_INTERFACE:include>
                              PRIVATE ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(zv PRIVATE ole32 uuid zv_warnings)
# 32-bit: the exports keep their plain names (no @N of a __stdcall).
if(MINGW AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_link_options(zv PRIVATE -Wl,--kill-at)
endif()

# The static form, for the tests and the tool.  A program that links it has
# no DLL load, so the module entry of this form runs at program start-up and
# exit instead (ZV_STATIC, see module_entry.cpp); clients compile with
# ZV_STATIC too, which turns the DLL imports of zv.h into plain calls.
add_library(zv_static STATIC $<TARGET_OBJECTS:zv_objects>
            ${CMAKE_SOURCE_DIR}/src/frame/module_entry.cpp)
target_compile_definitions(zv_static PUBLIC ZV_STATIC PRIVATE ZV_BUILDING_LIBRARY)
target_include_directories(zv_static PUBLIC ${CMAKE_SOURCE_DIR}/include ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(zv_static PUBLIC ole32 uuid Threads::Threads PRIVATE zv_warnings)
add_library(zv_whole INTERFACE)
target_link_libraries(zv_whole INTERFACE "$<LINK_LIBRARY:WHOLE_ARCHIVE,zv_static>")
