# Run by `cmake --install`: the firefox-esr policy that installs the Korvane add-on from the packaged .xpi,
# named by a file:// URL of its installed path. The signature requirement is off by default only, for
# this unsigned add-on; a user or administrator can still turn it on.
include("${CMAKE_CURRENT_LIST_DIR}/InstallText.cmake")
korvane_install_path(datadir "${KORVANE_DATADIR}")
korvane_file_url(url "${datadir}/korvane/${KORVANE_GECKO_EXTENSION_ID}.xpi")
korvane_json_text(url "${url}")
korvane_json_text(id "${KORVANE_GECKO_EXTENSION_ID}")
korvane_install_text("${datadir}/firefox-esr/distribution/policies.json" "{
  \"policies\": {
    \"ExtensionSettings\": {
      \"${id}\": {
        \"installation_mode\": \"force_installed\",
        \"install_url\": \"${url}\"
      }
    },
    \"Preferences\": {
      \"xpinstall.signatures.required\": { \"Value\": false, \"Status\": \"default\" }
    }
  }
}
")
