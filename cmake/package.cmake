# libtolvak: the core, the Linux platform and the public API in one library, installed with
# include/tolvak, a CMake package (Tolvak::tolvak) and a pkg-config file.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

if(TOLVAK_SHARED)
  set(TOLVAK_LIB_KIND SHARED)
else()
  set(TOLVAK_LIB_KIND STATIC)
endif()
if(WIN32)
  set(TOLVAK_PLATFORM tolvak_win32)
else()
  set(TOLVAK_PLATFORM tolvak_posix)
endif()
set(TOLVAK_LIB_OBJECTS $<TARGET_OBJECTS:tolvak_core> $<TARGET_OBJECTS:${TOLVAK_PLATFORM}>
  $<TARGET_OBJECTS:tolvak_api>)
add_library(tolvak_lib ${TOLVAK_LIB_KIND} ${TOLVAK_LIB_OBJECTS})
if(WIN32)
  # What the Win32 platform calls; a program linking the archive links these too.
  target_link_libraries(tolvak_lib PUBLIC user32 gdi32 comctl32 wsock32 iphlpapi)
endif()
add_library(Tolvak::tolvak ALIAS tolvak_lib)
set_target_properties(tolvak_lib PROPERTIES
  OUTPUT_NAME tolvak
  EXPORT_NAME tolvak
  VERSION ${PROJECT_VERSION}
  SOVERSION ${PROJECT_VERSION_MAJOR})
target_compile_features(tolvak_lib PUBLIC cxx_std_17)
if(TOLVAK_SHARED)
  # Hidden visibility keeps the internals in; the version script also keeps in the standard
  # library's template code, which would otherwise be exported as weak symbols.
  target_link_options(tolvak_lib PRIVATE
    "LINKER:--version-script=${PROJECT_SOURCE_DIR}/cmake/libtolvak.map")
  set_property(TARGET tolvak_lib APPEND PROPERTY LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/libtolvak.map)
endif()
# In the tree the tool and the tests also reach the internal headers; an installed package
# offers include/tolvak only.
target_include_directories(tolvak_lib PUBLIC
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

# What the tool and the tests link: they reach the internals too, which a shared libtolvak
# keeps to itself, so there they take the same objects from an archive of their own.
if(TOLVAK_SHARED)
  add_library(tolvak_in_tree STATIC ${TOLVAK_LIB_OBJECTS})
  target_compile_features(tolvak_in_tree PUBLIC cxx_std_17)
  target_include_directories(tolvak_in_tree PUBLIC ${PROJECT_SOURCE_DIR}/include
                             ${PROJECT_SOURCE_DIR}/src)
else()
  add_library(tolvak_in_tree ALIAS tolvak_lib)
endif()

# The components are the Debian packages' (packaging/debian.cmake): lib the shared library, dev
# everything a program is built with.
install(TARGETS tolvak_lib EXPORT TolvakTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT lib NAMELINK_COMPONENT dev
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT lib)
install(DIRECTORY include/tolvak DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
# The licence beside what a program is built with (the Debian packages carry it as copyright).
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tolvak COMPONENT dev)

set(TOLVAK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Tolvak)
install(EXPORT TolvakTargets NAMESPACE Tolvak:: DESTINATION ${TOLVAK_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(cmake/TolvakConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/TolvakConfig.cmake INSTALL_DESTINATION ${TOLVAK_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/TolvakConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/TolvakConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/TolvakConfigVersion.cmake DESTINATION ${TOLVAK_CMAKE_DIR}
  COMPONENT dev)

file(RELATIVE_PATH TOLVAK_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(cmake/tolvak.pc.in ${CMAKE_CURRENT_BINARY_DIR}/tolvak.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tolvak.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT dev)
