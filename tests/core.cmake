# The core's tests, one folder per folder of src/ (base, text, acquisition, network, control),
# in one program. tests/control holds the recording fakes the control's tests share.
find_package(GTest REQUIRED)
include(GoogleTest)

file(GLOB UNIT_TEST_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_LIST_DIR}/base/*.cpp
  ${CMAKE_CURRENT_LIST_DIR}/text/*.cpp
  ${CMAKE_CURRENT_LIST_DIR}/acquisition/*.cpp
  ${CMAKE_CURRENT_LIST_DIR}/network/*.cpp
  ${CMAKE_CURRENT_LIST_DIR}/control/*.cpp)
add_executable(tolvak_unit_tests ${UNIT_TEST_SOURCES})
target_include_directories(tolvak_unit_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/control)
target_link_libraries(tolvak_unit_tests PRIVATE tolvak_core GTest::gtest GTest::gtest_main GTest::gmock)
# A unit test that runs for a minute is hung, not slow.
gtest_discover_tests(tolvak_unit_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 60)
