# Debian packages, made by `cpack -G DEB` from a build configured with
# -DCMAKE_INSTALL_PREFIX=/usr -DTARN_PACKAGING=ON (scripts/package.sh does so):
#   libtarnscanner1     the two shared libraries and the exclusive-create helper
#   libtarnscanner-dev  headers, tarn-scanner.pc and the unversioned .so links
#   tarn-scan           the program, its manual page and the systemd units
# The dependencies on Debian's libraries are computed by dpkg-shlibdeps.

set(TARN_DEB_RELEASE 1)
set(TARN_DEB_VERSION "${PROJECT_VERSION}-${TARN_DEB_RELEASE}")
set(TARN_DEB_MAINTAINER "tarn-scanner developers <packages@tarn-scanner.invalid>")

if(TARN_PACKAGING)
  set(doc_root "${CMAKE_INSTALL_DATAROOTDIR}/doc")
  set(TARN_DOC_DIR "${CMAKE_INSTALL_FULL_DATAROOTDIR}/doc/tarn-scan")
  set(TARN_SCAN_PROGRAM "${CMAKE_INSTALL_FULL_BINDIR}/tarn-scan")
  set(TARN_TIMEOUT_PROGRAM /usr/bin/timeout)
  set(pkg_dir "${PROJECT_BINARY_DIR}/packaging")
  configure_file(packaging/tarn-scan@.service.in "${pkg_dir}/tarn-scan@.service" @ONLY)
  configure_file(packaging/changelog "${pkg_dir}/changelog" @ONLY)

  # Debian wants manual pages and changelogs compressed, reproducibly.
  find_program(GZIP_PROGRAM gzip REQUIRED)
  foreach(name IN ITEMS changelog tarn-scan.1)
    if(name STREQUAL "changelog")
      set(source "${pkg_dir}/changelog")
      set(target "${pkg_dir}/changelog.Debian.gz")
    else()
      set(source "${PROJECT_SOURCE_DIR}/tools/tarn-scan/tarn-scan.1")
      set(target "${pkg_dir}/tarn-scan.1.gz")
    endif()
    execute_process(COMMAND ${GZIP_PROGRAM} -9 -n -c "${source}"
                    OUTPUT_FILE "${target}" COMMAND_ERROR_IS_FATAL ANY)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${source}")
  endforeach()

  install(FILES "${pkg_dir}/tarn-scan.1.gz" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT tool)
  # Debian 12 keeps the units of packages in /lib/systemd/system.
  install(FILES "${pkg_dir}/tarn-scan@.service" packaging/tarn-scan@.timer
          DESTINATION /lib/systemd/system COMPONENT tool)
  install(FILES packaging/gv0.conf packaging/tarn-scan.rules.yml DESTINATION ${doc_root}/tarn-scan/examples COMPONENT tool)
  foreach(component_package IN ITEMS lib:libtarnscanner1 dev:libtarnscanner-dev tool:tarn-scan)
    string(REPLACE ":" ";" pair "${component_package}")
    list(GET pair 0 component)
    list(GET pair 1 package)
    install(FILES packaging/copyright "${pkg_dir}/changelog.Debian.gz"
            DESTINATION ${doc_root}/${package} COMPONENT ${component})
    install(FILES packaging/lintian-overrides.${package} RENAME ${package}
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides COMPONENT ${component})
  endforeach()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarn-scanner)
set(CPACK_PACKAGE_VENDOR "The tarn-scanner Authors")
set(CPACK_PACKAGE_CONTACT "${TARN_DEB_MAINTAINER}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
# Each package's description below begins with its own summary line.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_SET_DESTDIR ON)  # the units and /etc paths are absolute
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL lib dev tool)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${TARN_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# tarn-scan needs the libraries of libtarnscanner1; dpkg-shlibdeps finds
# them in the build tree (that dependency is declared below).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    "${PROJECT_BINARY_DIR}/core;${PROJECT_BINARY_DIR}/scanner")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)  # shlibs (and ldconfig triggers) for the libraries
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "")

set(CPACK_DEBIAN_LIB_PACKAGE_NAME libtarnscanner1)
set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
# An ldconfig trigger; the scripts only keep CPack from adding ldconfig calls.
set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA "${PROJECT_SOURCE_DIR}/packaging/lib/triggers;${PROJECT_SOURCE_DIR}/packaging/lib/postinst;${PROJECT_SOURCE_DIR}/packaging/lib/postrm")
set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_COMPONENT_LIB_DESCRIPTION
    "changed GlusterFS shard pieces per application - shared libraries
tarn-scanner tells a backup product which shard pieces of a GlusterFS volume
changed since the last scan, per application, by driving glusterfind.

This package has the libraries libtarnscanner and libtarncore and the helper
program that creates the session lock on the volume.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libtarnscanner-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DEPENDS lib)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libboost-dev")
set(CPACK_DEBIAN_DEV_PACKAGE_RECOMMENDS "pkgconf | pkg-config")
set(CPACK_COMPONENT_DEV_DESCRIPTION
    "changed GlusterFS shard pieces per application - development files
tarn-scanner tells a backup product which shard pieces of a GlusterFS volume
changed since the last scan, per application, by driving glusterfind.

This package has the headers, the pkg-config file tarn-scanner.pc and the
links to build host programs against the libraries.")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME tarn-scan)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION admin)
set(CPACK_COMPONENT_TOOL_DEPENDS lib)
# glusterfind comes with glusterfs-server and needs python3-pyxattr.
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "glusterfs-server, python3-pyxattr")
set(CPACK_DEBIAN_TOOL_PACKAGE_CONTROL_EXTRA
    "${PROJECT_SOURCE_DIR}/packaging/tool/postinst;${PROJECT_SOURCE_DIR}/packaging/tool/postrm")
set(CPACK_DEBIAN_TOOL_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_COMPONENT_TOOL_DESCRIPTION
    "changed GlusterFS shard pieces per application - command-line scanner
tarn-scanner tells a backup product which shard pieces of a GlusterFS volume
changed since the last scan, per application, by driving glusterfind.

This package has tarn-scan, which runs one scan and summarises its results,
and systemd template units (tarn-scan@.service, tarn-scan@.timer) for
nightly scans configured in /etc/tarn-scan/<instance>.conf.")

include(CPack)
