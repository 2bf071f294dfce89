# The Windows test programs: one per area, over the static library, run
# under Wine by CTest (the toolchain's emulator).  The tests that only make
# sense over the POSIX layer are left out here and listed with their reasons
# in docs/windows.md, whose table this file reads.

# GoogleTest from Debian's sources, built once per build tree.
set(ZV_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${ZV_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# The tests' sources are shared with POSIX, where wide text is char16_t.
add_library(zv_test_wchar INTERFACE)
target_compile_definitions(zv_test_wchar INTERFACE ZV_WCHAR_IS_CHAR16)

add_library(zv_test_main STATIC support/main.cpp)
target_link_libraries(zv_test_main PUBLIC GTest::gtest PRIVATE zv_warnings)

add_library(zv_test_support STATIC support/child_windows.cpp support/debugger_windows.cpp
            support/dialog_windows.cpp)
target_include_directories(zv_test_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/support)
target_link_libraries(zv_test_support PUBLIC zv_whole GTest::gtest zv_test_wchar PRIVATE zv_warnings)

add_library(zv_testlib MODULE data/testlib.cpp)
set_target_properties(zv_testlib PROPERTIES PREFIX "")

# The Linux-only tests: the first column of the table under "## Linux-only
# tests" in docs/windows.md.
file(READ ${CMAKE_SOURCE_DIR}/docs/windows.md windows_doc)
string(FIND "${windows_doc}" "## Linux-only tests" start)
string(SUBSTRING "${windows_doc}" ${start} -1 windows_doc)
string(FIND "${windows_doc}" "\n## " end)
string(SUBSTRING "${windows_doc}" 0 ${end} windows_doc)
string(REGEX MATCHALL "\n[|] `[A-Za-z0-9_]+[.][A-Za-z0-9_]+` [|]" linux_only "${windows_doc}")
set(excluded "")
foreach(row IN LISTS linux_only)
  string(REGEX MATCH "`([A-Za-z0-9_.]+)`" name "${row}")
  string(APPEND excluded ":${CMAKE_MATCH_1}")
endforeach()

# The kept sources of each area; a file not named here is Linux-only as a
# whole (listed in docs/windows.md too).
set(ZV_WINDOWS_SUITES
  "uri:uri/parse_uri_test.cpp"
  "containers:containers/model_test.cpp,containers/lookup_test.cpp,containers/locking_test.cpp"
  "os:os/text_and_memory_test.cpp,os/time_test.cpp,os/files_test.cpp,os/threads_and_sync_test.cpp"
  "components:components/registry_test.cpp,components/objects_test.cpp"
  "frame:windows/diagnostics_windows_test.cpp,frame/lifecycle_test.cpp"
  "tool:windows/tool_windows_test.cpp"
  "config:config/reader_test.cpp,config/document_test.cpp,config/registry_file_test.cpp")
foreach(entry IN LISTS ZV_WINDOWS_SUITES)
  string(REPLACE ":" ";" parts "${entry}")
  list(GET parts 0 suite)
  list(GET parts 1 files)
  string(REPLACE "," ";" files "${files}")
  list(TRANSFORM files PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
  add_executable(zv_tests_${suite} ${files})
  target_link_libraries(zv_tests_${suite} PRIVATE zv_test_support zv_whole zv_test_main zv_warnings)
  target_compile_definitions(zv_tests_${suite} PRIVATE
    ZV_TEST_LIBRARY_PATH="$<TARGET_FILE:zv_testlib>"
    ZV_TOOL_PATH="$<TARGET_FILE:zv_tool>"
    ZV_SAMPLE_SERVER_PATH="$<TARGET_FILE:zv_sample_server>"
    ZV_TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/data"
    ZV_TEST_BINARY_DIR="${CMAKE_CURRENT_BINARY_DIR}")
  add_dependencies(zv_tests_${suite} zv zv_testlib zv_tool zv_sample_server)
  set(filter "*")
  if(excluded)
    set(filter "*-${excluded}")
    string(REPLACE "-:" "-" filter "${filter}")
  endif()
  gtest_discover_tests(zv_tests_${suite}
    DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 TEST_FILTER "${filter}"
    PROPERTIES LABELS ${suite} TIMEOUT 300 ENVIRONMENT "WINEDEBUG=-all")
endforeach()

# The in-process servers that the component tests load, as DLLs.
add_subdirectory(components/server)

# A C client of zv.dll itself (the test programs above use the static form):
# the header compiles as C over <windows.h>, and the DLL loads, starts and
# answers by its plain C names.
add_executable(zv_c_client frame/c_client.c)
set_target_properties(zv_c_client PROPERTIES C_STANDARD 99 C_EXTENSIONS OFF)
target_compile_options(zv_c_client PRIVATE -Wall -Wextra -Werror -pedantic)
target_link_libraries(zv_c_client PRIVATE zv)
add_custom_command(TARGET zv_c_client POST_BUILD
                   COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:zv> $<TARGET_FILE_DIR:zv_c_client>)
add_test(NAME CClient.CallsTheSharedLibrary COMMAND zv_c_client)
set_tests_properties(CClient.CallsTheSharedLibrary PROPERTIES LABELS frame ENVIRONMENT "WINEDEBUG=-all")
