# The Windows test programs, in the cross build: each *.cpp of a folder in TOLVAK_WINDOWS_TEST_DIRS
# is one program, run under Wine by the *.test.sh of the same name beside it (CMakeLists.txt here
# registers those in the Linux build). A program lands in the build folder that mirrors its source
# folder, which is where com_lib.sh looks for it.
function(tolvak_add_windows_test_programs)
  foreach(dir ${TOLVAK_WINDOWS_TEST_DIRS})
    file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${dir}/*.cpp)
    foreach(source ${sources})
      get_filename_component(name ${source} NAME_WE)
      add_executable(${name} ${source})
      set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/${dir})
      # Its own folder's headers, and the checker that every Windows test program shares.
      target_include_directories(${name} PRIVATE
        ${PROJECT_SOURCE_DIR}/${dir} ${CMAKE_CURRENT_FUNCTION_LIST_DIR})
      target_compile_definitions(${name} PRIVATE UNICODE _UNICODE _WIN32_WINNT=0x0600)
      target_link_libraries(${name} PRIVATE tolvak_core tolvak_win32 version
        ole32 oleaut32 uuid user32 gdi32 comctl32 wsock32 iphlpapi)
    endforeach()
  endforeach()
endfunction()
