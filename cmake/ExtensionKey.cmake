# The Chromium extension's id. Without KORVANE_EXTENSION_KEY it is the id the manifest's key pins. With it
# (a PEM RSA private key, never committed), the public half goes into the staged manifest's key, the id
# follows from it everywhere it is written (host manifests, host, tests), and the build signs a .crx with
# it for Chrome's and Chromium's external-extension and policy routes.
set(KORVANE_EXTENSION_KEY "" CACHE FILEPATH "PEM private key that signs the Chromium extension (.crx); optional")

include(${CMAKE_CURRENT_LIST_DIR}/ExtensionId.cmake)

set(KORVANE_EXTENSION_PUBLIC_KEY "")
if(KORVANE_EXTENSION_KEY)
  korvane_extension_key(${KORVANE_EXTENSION_KEY} KORVANE_CHROMIUM_EXTENSION_ID KORVANE_EXTENSION_PUBLIC_KEY)
  message(STATUS "Chromium extension id from ${KORVANE_EXTENSION_KEY}: ${KORVANE_CHROMIUM_EXTENSION_ID}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${KORVANE_EXTENSION_KEY})
endif()
