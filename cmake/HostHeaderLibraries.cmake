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
