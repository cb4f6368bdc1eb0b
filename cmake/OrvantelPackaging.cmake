# Debian packages, made with `cpack -G DEB` in a release build configured for /usr:
#
#   liborvantelworkorders<SOVERSION>   the shared library             (component Runtime)
#   liborvantelworkorders-dev          headers, CMake package, .so link (component Development)
#   orvantelworkorders-designer-plugin the Qt Designer plugin         (component DesignerPlugin)
#
# Nothing else the tree installs, or may install one day (demo, tests, benchmarks), is
# packaged: only these three components are.

set(ORVANTEL_PACKAGE_MAINTAINER "Orvantel Work Orders maintainers <maintainers@orvantel.invalid>"
    CACHE STRING "The Maintainer field of the Debian packages")

set(_runtime liborvantelworkorders${PROJECT_VERSION_MAJOR})
set(_release 1)

set(CPACK_PACKAGE_NAME OrvantelWorkOrders)
set(CPACK_PACKAGE_VENDOR Orvantel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Each package's summary line; CPACK_PACKAGE_DESCRIPTION_SUMMARY would be put before every
# description a second time.
set(_summary "Embeddable Qt 6 control for maintenance work orders")
set(CPACK_PACKAGE_CONTACT "${ORVANTEL_PACKAGE_MAINTAINER}")
# The files are laid out for CMAKE_INSTALL_PREFIX when the build is configured (the lib dir
# depends on it), so the packages must use the same prefix; the project config file checks
# that it is /usr.
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_STRIP_FILES ON)

set(CPACK_COMPONENTS_ALL Runtime Development DesignerPlugin)
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS Runtime)
set(CPACK_COMPONENT_DESIGNERPLUGIN_DEPENDS Runtime)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${_release})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The libraries each package links come from dpkg-shlibdeps; a component's dependency on
# another (the runtime package) is added with its exact version.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# dpkg-shlibdeps must find the library the plugin links; it is in another package, so it is
# found in the build tree (the folder the library is built into) and left to the line above.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/src)

# Runtime. Qt loads its SQL drivers as plugins, which dpkg-shlibdeps cannot see. SQLite is
# the database the control works with out of the box, so its driver is required; the
# PostgreSQL and SQL Server drivers (and FreeTDS, SQL Server's default ODBC driver) are
# needed only at sites with such a server, so they are recommended: installed by default,
# left out by an integrator who installs without recommends for an SQLite-only site.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${_runtime})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libqt6sql6-sqlite")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS "libqt6sql6-psql, libqt6sql6-odbc, tdsodbc")
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "${_summary} (runtime)
WorkOrdersGrid shows the open, preventive-maintenance and closed work orders and
the linked files of a set of assets, read from a maintenance database (SQLite,
PostgreSQL, or SQL Server through ODBC).
.
Linked files are previewed from ${ORVANTEL_PREVIEW_BASE_URL}")
# For packages built against this one with dpkg-shlibdeps.
file(WRITE ${PROJECT_BINARY_DIR}/packaging/shlibs
  "libOrvantelWorkOrders ${PROJECT_VERSION_MAJOR} ${_runtime} (>= ${PROJECT_VERSION}-${_release})\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/packaging/shlibs)

# Development: the CMake package finds Qt6 Core, Gui and Widgets.
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME liborvantelworkorders-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "qt6-base-dev")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "${_summary} (development files)
The header of WorkOrdersGrid and the CMake package OrvantelWorkOrders:
find_package(OrvantelWorkOrders) and link Orvantel::WorkOrders.")

# Designer plugin: the plugin interface is header-only, so the plugin links no Designer
# library; it is loaded by Qt Designer and by QUiLoader.
set(CPACK_DEBIAN_DESIGNERPLUGIN_PACKAGE_NAME orvantelworkorders-designer-plugin)
set(CPACK_DEBIAN_DESIGNERPLUGIN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_DESIGNERPLUGIN_PACKAGE_ENHANCES "designer-qt6, libqt6uitools6")
set(CPACK_DEBIAN_DESIGNERPLUGIN_DESCRIPTION "${_summary} (Qt Designer plugin)
Lists WorkOrdersGrid in Qt Designer's widget box and lets QUiLoader create it
by class name.")

set(ORVANTEL_PACKAGE_BUILD_TESTING "${BUILD_TESTING}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/OrvantelCPackOptions.cmake.in
  ${PROJECT_BINARY_DIR}/packaging/OrvantelCPackOptions.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/packaging/OrvantelCPackOptions.cmake)

include(CPack)
