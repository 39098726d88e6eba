# The Debian package zorvan-printer-driver: `make package`, or `cpack` in a
# build folder. It holds whatever the install rules put in place (filter,
# picture filter, the two PPDs, the simulated printer's backend when
# ZORVAN_INSTALL_BACKEND is on, the Printer Application when it was built),
# plus the copyright and changelog every Debian package carries.
if(APPLE)
  return()  # macOS installs with `make install`
endif()
set(ZORVAN_PACKAGE_MAINTAINER "rastertozorvan developers <maintainers@users.noreply.c-seed-e6bcec8f.example>"
  CACHE STRING "The Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zorvan-printer-driver)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${ZORVAN_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "CUPS driver for Zorvan direct-thermal receipt and label printers")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "The CUPS filter rastertozorvan turns every page of a print job into the
1-bit image of the printer's thermal head and watches the printer's paper,
cover and temperature while it prints. The package also carries the filter
for pictures (imagetozorvan) and the printers' PPDs, so that a queue is added
with the model zorvan/zorvan.ppd (80 mm printer) or zorvan/zorvan58.ppd
(58 mm printer).")
if(TARGET zorvan-app)
  string(APPEND CPACK_DEBIAN_PACKAGE_DESCRIPTION "
It also carries the Printer Application zorvan-app, an IPP Everywhere
printer with its own web page, and its systemd service (not enabled).")
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION text)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries from the binaries; the scheduler and cups-filters' converters
# (PDF and pictures to raster, imagetoraster for imagetozorvan) by name.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "cups, cups-filters")
set(CPACK_STRIP_FILES ON)
# The install rules name absolute folders (CUPS's own); they go into the
# package's tree as they are, the rest under the install prefix (/usr).
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})

# Copyright and changelog belong to the package only, not to `make install`.
set(ZORVAN_PACKAGE_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR})
configure_file(${CMAKE_CURRENT_LIST_DIR}/PackageDocs.cmake.in ${CMAKE_BINARY_DIR}/PackageDocs.cmake @ONLY)
set(CPACK_INSTALL_SCRIPTS ${CMAKE_BINARY_DIR}/PackageDocs.cmake)

include(CPack)
