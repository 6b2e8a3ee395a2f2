# Boost and utfcpp are used header-only, so a cross build takes them from the build machine. Only their own
# folders are put on the include path (through a staging folder for Boost), never /usr/include itself,
# whose C library headers belong to the build machine.
find_path(KORVANE_HOST_BOOST_DIR boost/version.hpp PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_path(KORVANE_HOST_UTFCPP_DIR utf8.h PATHS /usr/include/utf8cpp NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT KORVANE_HOST_BOOST_DIR OR NOT KORVANE_HOST_UTFCPP_DIR)
  message(FATAL_ERROR "Boost and utfcpp headers not found on the build machine (scripts/deps installs them)")
endif()

set(_korvane_staged ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${_korvane_staged})
if(NOT EXISTS ${_korvane_staged}/boost)
  file(CREATE_LINK ${KORVANE_HOST_BOOST_DIR}/boost ${_korvane_staged}/boost SYMBOLIC)
endif()

add_library(Boost::headers INTERFACE IMPORTED)
target_include_directories(Boost::headers SYSTEM INTERFACE ${_korvane_staged})
add_library(korvane_host_utfcpp INTERFACE IMPORTED)
target_include_directories(korvane_host_utfcpp SYSTEM INTERFACE ${KORVANE_HOST_UTFCPP_DIR})

# nlohmann_json, found by find_package through a package file of our own that names only its folder.
find_path(KORVANE_HOST_NLOHMANN_DIR nlohmann/json.hpp PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(KORVANE_HOST_NLOHMANN_DIR)
  if(NOT EXISTS ${_korvane_staged}/nlohmann)
    file(CREATE_LINK ${KORVANE_HOST_NLOHMANN_DIR}/nlohmann ${_korvane_staged}/nlohmann SYMBOLIC)
  endif()
  set(_korvane_json_version)
  foreach(header json.hpp detail/abi_macros.hpp)
    if(EXISTS ${KORVANE_HOST_NLOHMANN_DIR}/nlohmann/${header} AND NOT _korvane_json_version)
      file(STRINGS ${KORVANE_HOST_NLOHMANN_DIR}/nlohmann/${header} _korvane_json_version
           REGEX "#define NLOHMANN_JSON_VERSION_(MAJOR|MINOR|PATCH) +[0-9]+")
    endif()
  endforeach()
  string(REGEX REPLACE "#define NLOHMANN_JSON_VERSION_[A-Z]+ +([0-9]+)[^;]*" "\\1" _korvane_json_version
         "${_korvane_json_version}")
  string(REPLACE ";" "." _korvane_json_version "${_korvane_json_version}")
  set(_korvane_json_pkg ${CMAKE_BINARY_DIR}/host-packages/nlohmann_json)
  file(WRITE ${_korvane_json_pkg}/nlohmann_jsonConfig.cmake "
if(NOT TARGET nlohmann_json::nlohmann_json)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES \"${_korvane_staged}\"
    INTERFACE_SYSTEM_INCLUDE_DIRECTORIES \"${_korvane_staged}\")
endif()
")
  file(WRITE ${_korvane_json_pkg}/nlohmann_jsonConfigVersion.cmake "
set(PACKAGE_VERSION ${_korvane_json_version})
if(PACKAGE_FIND_VERSION VERSION_GREATER PACKAGE_VERSION)
  set(PACKAGE_VERSION_COMPATIBLE FALSE)
else()
  set(PACKAGE_VERSION_COMPATIBLE TRUE)
endif()
")
  set(nlohmann_json_DIR ${_korvane_json_pkg} CACHE PATH "nlohmann_json for the cross build" FORCE)
endif()
