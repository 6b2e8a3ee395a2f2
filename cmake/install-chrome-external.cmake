# Run by `cmake --install` when the build has a signed .crx: Google Chrome's external-extension file, named
# by the extension's id, naming the installed .crx by its absolute path.
include("${CMAKE_CURRENT_LIST_DIR}/InstallText.cmake")
korvane_install_path(datadir "${KORVANE_DATADIR}")
korvane_json_text(crx "${datadir}/korvane/korvane.crx")
korvane_install_text("${datadir}/google-chrome/extensions/${KORVANE_CHROMIUM_EXTENSION_ID}.json" "{
  \"external_crx\": \"${crx}\",
  \"external_version\": \"${KORVANE_VERSION}\"
}
")
