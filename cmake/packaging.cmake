# Installation and packages: a ZIP and an MSI (with its winget manifest) for
# Windows, made by cmake/windows_installer.cmake; a .deb and an .rpm for
# Linux, made by CPack (its times are SOURCE_DATE_EPOCH where that is set).
include(GNUInstallDirs)

if(WIN32)
  install(TARGETS sweepdirs RUNTIME DESTINATION .)
  install(FILES README.md LICENSE DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-x64)
  # The project has no release host yet: where the MSI will be downloaded from.
  set(SWEEPDIRS_RELEASE_URL "https://example.invalid/sweepdirs/releases/${PROJECT_VERSION}"
      CACHE STRING "Download address of the release packages, for the winget manifest")
  add_custom_target(msi
    COMMAND ${CMAKE_COMMAND} -DVERSION=${PROJECT_VERSION} -DSOURCE_DIR=${CMAKE_SOURCE_DIR}
            -DBINARY_DIR=${CMAKE_BINARY_DIR} -DOUT_DIR=${CMAKE_SOURCE_DIR}/build/packages
            -DRELEASE_URL=${SWEEPDIRS_RELEASE_URL} -P ${CMAKE_SOURCE_DIR}/cmake/windows_installer.cmake
    DEPENDS sweepdirs
    COMMENT "Building the MSI and its winget manifest")
else()
  install(TARGETS sweepdirs RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES packaging/sweepdirs.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # The units are installed but never enabled: the administrator decides.
  install(FILES packaging/sweepdirs.service packaging/sweepdirs.timer DESTINATION lib/systemd/system)
  install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # The .tar.gz is made by scripts/package.sh, with its members in a fixed order.
  set(CPACK_GENERATOR DEB RPM)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "sweepdirs developers")
  set(CPACK_DEBIAN_PACKAGE_SECTION admin)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libstdc++6 (>= 12), libsystemd0")
  set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
  set(CPACK_RPM_PACKAGE_LICENSE MIT)
  set(CPACK_RPM_PACKAGE_GROUP "Applications/System")
  # No build host or build time in the .rpm: its times are SOURCE_DATE_EPOCH.
  set(CPACK_RPM_SPEC_MORE_DEFINE "%define _build_id_links none
%define _buildhost reproducible
%define use_source_date_epoch_as_buildtime 1
%define clamp_mtime_to_source_date_epoch 1")
  # The package owns its files, not the system's folders they go into.
  set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
      /usr/lib/systemd /usr/lib/systemd/system /usr/share/man /usr/share/man/man1 /usr/share/doc)
endif()

set(CPACK_PACKAGE_NAME sweepdirs)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "sweepdirs developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Removes work areas and log files left behind by ended KEL processes")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_SOURCE_DIR}/build/packages)
set(CPACK_PACKAGE_INSTALL_DIRECTORY sweepdirs)
include(CPack)
