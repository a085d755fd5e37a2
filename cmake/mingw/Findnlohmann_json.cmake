# nlohmann/json is header-only, so the cross build uses the host's copy. The headers are copied
# into the build tree: putting the host's include folder on the path would hand the Windows
# compiler the host's C library headers.
find_path(KP_HOST_NLOHMANN_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_DEFAULT_PATH
          NO_CMAKE_FIND_ROOT_PATH)
if(KP_HOST_NLOHMANN_JSON_INCLUDE AND NOT TARGET nlohmann_json::nlohmann_json)
  set(_kp_json_copy ${CMAKE_BINARY_DIR}/host-headers/nlohmann-json)
  file(COPY ${KP_HOST_NLOHMANN_JSON_INCLUDE}/nlohmann DESTINATION ${_kp_json_copy})
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${_kp_json_copy})
endif()
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(nlohmann_json REQUIRED_VARS KP_HOST_NLOHMANN_JSON_INCLUDE)
