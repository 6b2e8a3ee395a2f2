# Every place that shows Korvane's version shows the project's: korvane-host (its --version; the hello is
# built from the same constant and checked by the host tests), the staged extension manifest and page
# library, the npm package and, when given, a Debian package. No staged file keeps a token the build should have written.
# Inputs: VERSION, SERIES, NPM_VERSION, STAGED, HOST (optional), EMULATOR (optional), DEB (optional).
set(failures "")
macro(expect what got)
  if(NOT "${got}" STREQUAL "${ARGN}")
    string(APPEND failures "  ${what}: \"${got}\", expected \"${ARGN}\"\n")
  endif()
endmacro()

if(HOST)
  execute_process(COMMAND ${EMULATOR} ${HOST} --version OUTPUT_VARIABLE out RESULT_VARIABLE rc)
  string(STRIP "${out}" out)
  expect("korvane-host --version" "${out}" "korvane-host ${VERSION}")
endif()

file(READ ${STAGED}/extension/manifest.json manifest)
string(JSON got ERROR_VARIABLE err GET "${manifest}" version)
expect("extension manifest version" "${got}" "${VERSION}")

file(READ ${STAGED}/web/korvane.js library)
string(REGEX MATCH "var VERSION_FAMILY = '([^']*)'" match "${library}")
expect("page library's version family" "${CMAKE_MATCH_1}" "${SERIES}.")

file(READ ${STAGED}/web/package.json package)
string(JSON got ERROR_VARIABLE err GET "${package}" version)
expect("npm package version" "${got}" "${NPM_VERSION}")

file(GLOB_RECURSE staged_texts ${STAGED}/extension/* ${STAGED}/web/*)
foreach(path IN LISTS staged_texts)
  file(STRINGS ${path} left REGEX "@KORVANE_[A-Z]+@")
  if(left)
    string(APPEND failures "  ${path} still holds ${left}\n")
  endif()
endforeach()

if(DEB)
  execute_process(COMMAND dpkg-deb --field ${DEB} Version OUTPUT_VARIABLE got OUTPUT_STRIP_TRAILING_WHITESPACE)
  expect("Debian package version" "${got}" "${VERSION}")
endif()

if(failures)
  message(FATAL_ERROR "versions disagree with ${VERSION}:\n${failures}")
endif()
message(STATUS "every checked place shows ${VERSION}")
