# CLI11 (libcli11-dev) and nlohmann/json (nlohmann-json3-dev): header-only
# Debian packages, used by the console runner and the reports.
add_library(zem_cli11_json INTERFACE)
if(CMAKE_CROSSCOMPILING)
  # The cross compiler must not see the build machine's whole include
  # directory: it gets a folder holding only links to these two libraries'
  # headers, made here at configure time.
  set(ZEM_HOST_INCLUDE /usr/include CACHE PATH "Where the header-only packages put their headers")
  set(link_root ${PROJECT_BINARY_DIR}/header-links)
  file(REMOVE_RECURSE ${link_root})
  foreach(library CLI nlohmann)
    if(NOT IS_DIRECTORY ${ZEM_HOST_INCLUDE}/${library})
      message(FATAL_ERROR "${ZEM_HOST_INCLUDE}/${library} is missing: install libcli11-dev and nlohmann-json3-dev")
    endif()
    file(GLOB_RECURSE headers RELATIVE ${ZEM_HOST_INCLUDE} ${ZEM_HOST_INCLUDE}/${library}/*)
    foreach(header ${headers})
      get_filename_component(folder ${link_root}/${header} DIRECTORY)
      file(MAKE_DIRECTORY ${folder})
      file(CREATE_LINK ${ZEM_HOST_INCLUDE}/${header} ${link_root}/${header} SYMBOLIC)
    endforeach()
  endforeach()
  target_include_directories(zem_cli11_json SYSTEM INTERFACE ${link_root})
else()
  find_package(CLI11 CONFIG REQUIRED)
  find_package(nlohmann_json CONFIG REQUIRED)
  target_link_libraries(zem_cli11_json INTERFACE CLI11::CLI11 nlohmann_json::nlohmann_json)
endif()
