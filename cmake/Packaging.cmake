# What a user installs: the extension archives for the browsers' stores, the extension's install rules for
# Debian's chromium and firefox-esr, and the Debian package (cpack -G DEB, made by scripts/package).
include(GNUInstallDirs)

set(KORVANE_ARCHIVE_DIR ${CMAKE_BINARY_DIR}/archives)
set(KORVANE_ZIP ${KORVANE_ARCHIVE_DIR}/korvane-${PROJECT_VERSION}-chrome.zip)
set(KORVANE_XPI ${KORVANE_ARCHIVE_DIR}/korvane-${PROJECT_VERSION}-firefox.xpi)
add_custom_command(
  OUTPUT ${KORVANE_ZIP} ${KORVANE_XPI}
  COMMAND ${CMAKE_COMMAND} -DSTAGED=${KORVANE_STAGED_DIR}/extension -DWORK=${KORVANE_ARCHIVE_DIR}/work
          -DZIP=${KORVANE_ZIP} -DXPI=${KORVANE_XPI} -P ${PROJECT_SOURCE_DIR}/cmake/make-archives.cmake
  DEPENDS ${CMAKE_BINARY_DIR}/staged-extension.stamp ${PROJECT_SOURCE_DIR}/cmake/make-archives.cmake
  COMMENT "Packing the extension for the stores"
  VERBATIM)
add_custom_target(korvane_archives ALL DEPENDS ${KORVANE_ZIP} ${KORVANE_XPI})

# With a signing key: the .crx for Chrome's and Chromium's external-extension and policy routes, packed by
# Chromium itself (its id follows from the key).
if(KORVANE_EXTENSION_KEY)
  find_program(KORVANE_CHROMIUM_PACKER chromium REQUIRED)
  set(KORVANE_CRX ${KORVANE_ARCHIVE_DIR}/korvane-${PROJECT_VERSION}.crx)
  set(_pack ${KORVANE_ARCHIVE_DIR}/crx)
  add_custom_command(
    OUTPUT ${KORVANE_CRX}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${_pack}
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${KORVANE_STAGED_DIR}/extension ${_pack}/extension
    COMMAND ${KORVANE_CHROMIUM_PACKER} --no-sandbox --headless --user-data-dir=${_pack}/profile
            --pack-extension=${_pack}/extension --pack-extension-key=${KORVANE_EXTENSION_KEY}
    COMMAND ${CMAKE_COMMAND} -E copy ${_pack}/extension.crx ${KORVANE_CRX}
    DEPENDS ${CMAKE_BINARY_DIR}/staged-extension.stamp ${KORVANE_EXTENSION_KEY}
    COMMENT "Signing the extension as a .crx"
    VERBATIM)
  add_custom_target(korvane_crx ALL DEPENDS ${KORVANE_CRX})
endif()

if(WIN32)
  return()
endif()

set(_file_mode OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
set(_dir_mode OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Debian's chromium launcher loads every folder in /usr/share/chromium/extensions; the manifest's key pins
# the id the host manifest allows.
install(DIRECTORY ${KORVANE_STAGED_DIR}/extension/ DESTINATION ${CMAKE_INSTALL_DATADIR}/chromium/extensions/korvane
        FILE_PERMISSIONS ${_file_mode} DIRECTORY_PERMISSIONS ${_dir_mode})

# firefox-esr installs the add-on from a policy in its distribution folder, which works in profiles that
# existed before as well as in new ones. The policy file is ours (firefox-esr ships the folder, not the
# file); a policies.json in /etc/firefox/policies, if an administrator has one, takes its place.
install(FILES ${KORVANE_XPI} DESTINATION ${CMAKE_INSTALL_DATADIR}/korvane RENAME ${KORVANE_GECKO_EXTENSION_ID}.xpi
        PERMISSIONS ${_file_mode})
install(CODE "
  set(KORVANE_DATADIR \"${CMAKE_INSTALL_DATADIR}\")
  set(KORVANE_GECKO_EXTENSION_ID \"${KORVANE_GECKO_EXTENSION_ID}\")")
install(SCRIPT ${PROJECT_SOURCE_DIR}/cmake/install-firefox-policy.cmake)

# Google Chrome on Linux installs a signed .crx named by a file in its external-extensions folder.
if(KORVANE_EXTENSION_KEY)
  install(FILES ${KORVANE_CRX} DESTINATION ${CMAKE_INSTALL_DATADIR}/korvane RENAME korvane.crx
          PERMISSIONS ${_file_mode})
  install(CODE "
      set(KORVANE_DATADIR \"${CMAKE_INSTALL_DATADIR}\")
    set(KORVANE_CHROMIUM_EXTENSION_ID \"${KORVANE_CHROMIUM_EXTENSION_ID}\")
    set(KORVANE_VERSION \"${PROJECT_VERSION}\")")
  install(SCRIPT ${PROJECT_SOURCE_DIR}/cmake/install-chrome-external.cmake)
endif()

# The Debian package.
set(CPACK_PACKAGE_NAME korvane)
set(CPACK_PACKAGE_VENDOR Brindlemoor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Brindlemoor <korvane@brindlemoor.eu>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "chromium | firefox-esr")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://brindlemoor.eu/korvane")
file(READ ${PROJECT_SOURCE_DIR}/packaging/debian/description _description)
string(STRIP "${_description}" _description)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "${_description}")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(_debian ${CMAKE_BINARY_DIR}/debian)
file(WRITE ${_debian}/conffiles
  "/etc/chromium/native-messaging-hosts/eu.brindlemoor.korvane.json\n"
  "/etc/opt/chrome/native-messaging-hosts/eu.brindlemoor.korvane.json\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${_debian}/conffiles)
# Every folder 755 and every file 644 or 755 in the package, whatever the umask of the build.
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/package-modes.cmake)

# Copyright, changelog (compressed as Debian wants it: gzip -9n) and the lintian overrides.
set(_doc ${CMAKE_INSTALL_DATADIR}/doc/korvane)
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in ${_debian}/changelog @ONLY)
add_custom_command(OUTPUT ${_debian}/changelog.gz
  COMMAND gzip -9nc ${_debian}/changelog > ${_debian}/changelog.gz
  DEPENDS ${_debian}/changelog)
add_custom_target(korvane_changelog ALL DEPENDS ${_debian}/changelog.gz)
install(FILES ${_debian}/changelog.gz ${PROJECT_SOURCE_DIR}/packaging/debian/copyright DESTINATION ${_doc}
        PERMISSIONS ${_file_mode})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/lintian-overrides DESTINATION
        ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME korvane PERMISSIONS ${_file_mode})

include(CPack)
