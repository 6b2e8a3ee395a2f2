# Run at build time: copies a source folder (the extension, the page library) into the build tree whole,
# writing the project's version where the files hold @KORVANE_VERSION@ (full) or @KORVANE_SERIES@
# (major.minor) or @KORVANE_NPM_VERSION@ (major.minor.patch, as npm takes it). The copy is made afresh, so files removed from the source leave the copy too.
# Inputs: SOURCE, DEST, VERSION, SERIES, NPM_VERSION; MANIFEST_KEY (optional) replaces the manifest's key,
# which pins the Chromium id.
file(REMOVE_RECURSE "${DEST}")
file(MAKE_DIRECTORY "${DEST}")
file(GLOB entries LIST_DIRECTORIES true "${SOURCE}/*")
foreach(entry IN LISTS entries)
  get_filename_component(name "${entry}" NAME)
  # Development leftovers never belong in what is shipped or loaded.
  if(NOT name STREQUAL "node_modules")
    file(COPY "${entry}" DESTINATION "${DEST}"
         FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
         DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                               WORLD_READ WORLD_EXECUTE)
  endif()
endforeach()
# Text files only: images and other binaries are copied as they are.
file(GLOB_RECURSE texts "${DEST}/*.js" "${DEST}/*.mjs" "${DEST}/*.json" "${DEST}/*.html" "${DEST}/*.ts"
     "${DEST}/*.md")
foreach(path IN LISTS texts)
  file(READ "${path}" text)
  string(REPLACE "@KORVANE_VERSION@" "${VERSION}" written "${text}")
  string(REPLACE "@KORVANE_SERIES@" "${SERIES}" written "${written}")
  string(REPLACE "@KORVANE_NPM_VERSION@" "${NPM_VERSION}" written "${written}")
  if(NOT written STREQUAL text)
    file(WRITE "${path}" "${written}")
  endif()
endforeach()

if(MANIFEST_KEY AND EXISTS "${DEST}/manifest.json")
  file(READ "${DEST}/manifest.json" manifest)
  string(JSON manifest SET "${manifest}" key "\"${MANIFEST_KEY}\"")
  file(WRITE "${DEST}/manifest.json" "${manifest}\n")
endif()
