# The Debian packages, made by CPack's DEB generator (scripts/package.sh): tolvak (the tool, its
# service unit and manual page), libtolvak-dev (headers, the library, the CMake package and
# tolvak.pc) and, when the library is built shared, libtolvak1 with libtolvak.so.1.
#
# The files only a package carries are installed by their component alone (EXCLUDE_FROM_ALL), so
# `cmake --install` into a prefix never writes /etc or /lib/systemd.
set(TOLVAK_DEB_DIR ${CMAKE_CURRENT_LIST_DIR}/debian)
set(TOLVAK_DEB_MAINTAINER "Tolvak developers <dev@tolvak.invalid>"
    CACHE STRING "Maintainer field of the Debian packages")

set(tolvak_deb_components tool dev)
if(TOLVAK_SHARED)
  list(APPEND tolvak_deb_components lib)
endif()
set(tolvak_deb_name_tool tolvak)
set(tolvak_deb_name_dev libtolvak-dev)
set(tolvak_deb_name_lib libtolvak${PROJECT_VERSION_MAJOR})

# Each package's copyright and changelog (a native package's: changelog.gz), as Debian asks.
string(TIMESTAMP TOLVAK_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
foreach(component IN LISTS tolvak_deb_components)
  set(TOLVAK_DEB_NAME ${tolvak_deb_name_${component}})
  set(doc ${CMAKE_CURRENT_BINARY_DIR}/deb-doc/${TOLVAK_DEB_NAME})
  configure_file(${TOLVAK_DEB_DIR}/changelog.in ${doc}/changelog @ONLY)
  add_custom_command(OUTPUT ${doc}/changelog.gz
    COMMAND gzip -9nkf ${doc}/changelog DEPENDS ${doc}/changelog)
  list(APPEND tolvak_deb_docs ${doc}/changelog.gz)
  install(FILES ${TOLVAK_DEB_DIR}/copyright ${doc}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${TOLVAK_DEB_NAME}
    COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()
add_custom_target(tolvak_deb_docs ALL DEPENDS ${tolvak_deb_docs})

install(FILES "${TOLVAK_DEB_DIR}/tolvak-serve@.service" "${TOLVAK_DEB_DIR}/tolvak-serve@.socket"
  DESTINATION /lib/systemd/system
  COMPONENT tool EXCLUDE_FROM_ALL)
install(FILES ${TOLVAK_DEB_DIR}/example.conf DESTINATION /etc/tolvak
  COMPONENT tool EXCLUDE_FROM_ALL)
add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/tolvak.1.gz
  COMMAND gzip -9nc ${CMAKE_CURRENT_LIST_DIR}/tolvak.1 > ${CMAKE_CURRENT_BINARY_DIR}/tolvak.1.gz
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/tolvak.1)
add_custom_target(tolvak_man ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/tolvak.1.gz)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tolvak.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
  COMPONENT tool EXCLUDE_FROM_ALL)

# cpack packs what scripts/package.sh has just built, never the whole tree with its tests.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tolvak)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TOLVAK_DEB_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${tolvak_deb_components})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME tolvak)
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS passwd)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION electronics)
set(CPACK_COMPONENT_TOOL_DESCRIPTION
  "reads the weight from a weighbridge indicator on a serial port
tolvak reads the frames a weighbridge (truck-scale) indicator writes to a
serial line and prints the weight (plain or JSON), or serves it to web
applications over HTTP, Server-Sent Events and WebSocket. The unit
tolvak-serve@.service runs the server for one device, e.g.
tolvak-serve@ttyUSB0.")
set(CPACK_DEBIAN_TOOL_PACKAGE_CONTROL_EXTRA
  ${TOLVAK_DEB_DIR}/tolvak/conffiles ${TOLVAK_DEB_DIR}/tolvak/postinst
  ${TOLVAK_DEB_DIR}/tolvak/postrm)

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libtolvak-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DESCRIPTION
  "weighbridge indicator library (development files)
libtolvak reads the weight from a weighbridge (truck-scale) indicator on a
serial port (tolvak::Scale). This package holds the headers, the library,
the CMake package (find_package(Tolvak)) and tolvak.pc.")

set(CPACK_DEBIAN_LIB_PACKAGE_NAME ${tolvak_deb_name_lib})
set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
# Only libtolvak1 holds a shared library, so only it gets a shlibs file.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_COMPONENT_LIB_DESCRIPTION
  "weighbridge indicator library
libtolvak reads the weight from a weighbridge (truck-scale) indicator on a
serial port (tolvak::Scale). This package holds the shared library.")
if(TOLVAK_SHARED)
  set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
    "${tolvak_deb_name_lib} (= ${PROJECT_VERSION})")
endif()
include(CPack)
