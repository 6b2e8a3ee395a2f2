# The extension and the page library as they are loaded and shipped: copies of extension/ and web/ in
# BUILD/staged with the project's version written into them. BUILD/staged mirrors the repository for the
# pages that load the library by a relative path (tests/, examples/, bench/ are links to the sources), so
# the test server and QtWebKit open pages from there and get the staged library.
set(KORVANE_STAGED_DIR ${CMAKE_BINARY_DIR}/staged CACHE INTERNAL "Staged extension and page library")
file(MAKE_DIRECTORY ${KORVANE_STAGED_DIR})
foreach(linked tests examples bench)
  if(NOT EXISTS ${KORVANE_STAGED_DIR}/${linked})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${linked} ${KORVANE_STAGED_DIR}/${linked} SYMBOLIC)
  endif()
endforeach()

set(_stamps "")
foreach(folder extension web)
  # Globbed again at every build, so that files added to the folder are staged without a manual configure.
  file(GLOB_RECURSE _inputs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*)
  list(FILTER _inputs EXCLUDE REGEX "/node_modules/")
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/staged-${folder}.stamp
    COMMAND ${CMAKE_COMMAND} -DSOURCE=${PROJECT_SOURCE_DIR}/${folder} -DDEST=${KORVANE_STAGED_DIR}/${folder}
            -DVERSION=${PROJECT_VERSION}
            -DSERIES=${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}
            -DNPM_VERSION=${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}
            -DMANIFEST_KEY=${KORVANE_EXTENSION_PUBLIC_KEY}
            -P ${PROJECT_SOURCE_DIR}/cmake/stage-web.cmake
    COMMAND ${CMAKE_COMMAND} -E touch ${CMAKE_BINARY_DIR}/staged-${folder}.stamp
    DEPENDS ${_inputs} ${PROJECT_SOURCE_DIR}/cmake/stage-web.cmake
    COMMENT "Staging ${folder}/ with version ${PROJECT_VERSION}"
    VERBATIM)
  list(APPEND _stamps ${CMAKE_BINARY_DIR}/staged-${folder}.stamp)
endforeach()
add_custom_target(korvane_staged ALL DEPENDS ${_stamps})
