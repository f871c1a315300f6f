# The installer's own action (packaging/msi/checked_run.cpp), put into the MSI by build-msi.sh.
add_library(tolvak_msi_actions MODULE ${CMAKE_CURRENT_LIST_DIR}/checked_run.cpp)
set_target_properties(tolvak_msi_actions PROPERTIES PREFIX "")
target_include_directories(tolvak_msi_actions PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_compile_definitions(tolvak_msi_actions PRIVATE UNICODE _UNICODE)
target_link_libraries(tolvak_msi_actions PRIVATE msi)
