# Run by `cmake --install`: writes the host manifests, naming the installed host by its absolute path,
# into every folder where Chromium, Chrome and Firefox look for them. The variables come from the
# install(CODE) step before this script; CMAKE_INSTALL_PREFIX is the prefix of this install run.
include("${CMAKE_CURRENT_LIST_DIR}/../../cmake/InstallText.cmake")
korvane_install_path(libexec "${KORVANE_HOST_LIBEXEC}")
set(KORVANE_HOST_PATH "${libexec}/korvane/korvane-host")

if(KORVANE_HOST_FOR_USER)
  if("$ENV{HOME}" STREQUAL "")
    message(FATAL_ERROR "Installing the host manifests for one user needs HOME")
  endif()
  set(chromium_dirs "$ENV{HOME}/.config/chromium/NativeMessagingHosts"
                    "$ENV{HOME}/.config/google-chrome/NativeMessagingHosts")
  set(firefox_dirs "$ENV{HOME}/.mozilla/native-messaging-hosts")
else()
  set(chromium_dirs "/etc/chromium/native-messaging-hosts" "/etc/opt/chrome/native-messaging-hosts")
  set(firefox_dirs "/usr/lib/mozilla/native-messaging-hosts")
endif()

# The path goes into a JSON string: a prefix holding quotes or backslashes must still give a valid file.
korvane_json_text(KORVANE_HOST_PATH "${KORVANE_HOST_PATH}")
foreach(kind chromium firefox)
  file(READ "${KORVANE_HOST_MANIFESTS}/${kind}.json.in" template)
  string(CONFIGURE "${template}" manifest @ONLY)
  foreach(dir IN LISTS ${kind}_dirs)
    korvane_install_text("${dir}/eu.brindlemoor.korvane.json" "${manifest}")
  endforeach()
endforeach()
