# The Linux platform's tests (tests/platform/posix) and the tool's (tests/apps/tolvak), in one
# program: both drive real pseudo-terminals through the same rig.
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)
include(GoogleTest)

file(GLOB POSIX_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/platform/posix/*.cpp)
# The tool's tests mirror its rooms (tests/apps/tolvak/<room>/).
file(GLOB_RECURSE TOOL_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/apps/tolvak/*.cpp)
list(APPEND POSIX_TEST_SOURCES ${TOOL_TEST_SOURCES})
add_executable(tolvak_posix_tests ${POSIX_TEST_SOURCES})
target_include_directories(tolvak_posix_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/platform/posix)
target_link_libraries(tolvak_posix_tests PRIVATE tolvak_cli GTest::gtest GTest::gtest_main
                      Threads::Threads)
# The tool itself, for the tests that run it as a user would.
target_compile_definitions(tolvak_posix_tests PRIVATE TOLVAK_EXE="$<TARGET_FILE:tolvak>"
                           TOLVAK_VERSION="${PROJECT_VERSION}")
add_dependencies(tolvak_posix_tests tolvak)
gtest_discover_tests(tolvak_posix_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)

# Every indicator format end to end: the simulator on a pseudo-terminal, read back by the tool.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME tool.formats_end_to_end
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/apps/tolvak/formats_end_to_end.py
                 $<TARGET_FILE:tolvak>)
set_tests_properties(tool.formats_end_to_end PROPERTIES TIMEOUT 60)
# A new user's first-day mistakes, each with the message it must give.
add_test(NAME tool.first_day
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/apps/tolvak/first_day.py
                 $<TARGET_FILE:tolvak>)
set_tests_properties(tool.first_day PROPERTIES TIMEOUT 300)
