# Run at build time: the store archives of the staged extension, a .zip for the Chrome Web Store and a
# .xpi for addons.mozilla.org (and the package's Firefox route). Both leave out the manifest's "key",
# which only pins the id of unpacked copies; the stores assign their own.
# Inputs: STAGED (the staged extension), WORK (scratch folder), ZIP, XPI (the archives to write).
file(REMOVE_RECURSE "${WORK}")
file(COPY "${STAGED}/" DESTINATION "${WORK}")
file(READ "${WORK}/manifest.json" manifest)
string(JSON key ERROR_VARIABLE missing GET "${manifest}" key)
if(NOT missing)
  string(JSON manifest REMOVE "${manifest}" key)
  file(WRITE "${WORK}/manifest.json" "${manifest}\n")
endif()
file(GLOB_RECURSE entries RELATIVE "${WORK}" "${WORK}/*")
list(SORT entries)
foreach(archive "${ZIP}" "${XPI}")
  file(REMOVE "${archive}")
  execute_process(COMMAND "${CMAKE_COMMAND}" -E tar cf "${archive}" --format=zip --mtime=2026-01-01 -- ${entries}
                  WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "could not write ${archive}")
  endif()
endforeach()
