# halvix_add_subdirectories([OUT_VAR])
# Adds, in name order, every folder below the current source folder that has
# its own CMakeLists.txt, so that an area owns its build by owning a folder.
# OUT_VAR, when given, receives the folder names. Folders named in
# HALVIX_UNPORTED (paths from the project's root) are left out.
function(halvix_add_subdirectories)
  file(GLOB _dirs LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT _dirs)
  set(_names)
  foreach(_dir IN LISTS _dirs)
    file(RELATIVE_PATH _relative ${PROJECT_SOURCE_DIR} ${_dir})
    if(IS_DIRECTORY ${_dir} AND EXISTS ${_dir}/CMakeLists.txt AND NOT _relative IN_LIST HALVIX_UNPORTED)
      get_filename_component(_name ${_dir} NAME)
      add_subdirectory(${_name})
      list(APPEND _names ${_name})
    endif()
  endforeach()
  if(ARGC GREATER 0)
    set(${ARGV0} ${_names} PARENT_SCOPE)
  endif()
endfunction()
