# halvix_lua_blobs(TARGET OUTPUT NAME FILE [NAME FILE]...)
# Compresses each Lua file, under its module name, into a blob and writes
# OUTPUT (a C++ fragment defining kGeneratedBlobs) into TARGET's build folder,
# which becomes one of TARGET's include directories.
# A cross build runs the build machine's own blobgen (HALVIX_BLOBGEN), made by
# a native tree first, rather than the target's under an emulator.
if(NOT TARGET halvix_blobgen)
  if(CMAKE_CROSSCOMPILING)
    if(NOT HALVIX_BLOBGEN)
      message(FATAL_ERROR "a cross build needs HALVIX_BLOBGEN: the build machine's halvix_blobgen")
    endif()
    add_executable(halvix_blobgen IMPORTED GLOBAL)
    set_target_properties(halvix_blobgen PROPERTIES IMPORTED_LOCATION ${HALVIX_BLOBGEN})
  else()
    add_executable(halvix_blobgen ${PROJECT_SOURCE_DIR}/sdk/blobgen/blobgen.cpp)
    target_link_libraries(halvix_blobgen PRIVATE ZLIB::ZLIB)
  endif()
endif()

function(halvix_lua_blobs target output)
  set(_args ${ARGN})
  set(_files)
  list(LENGTH _args _n)
  math(EXPR _odd "${_n} % 2")
  if(_n EQUAL 0 OR _odd)
    message(FATAL_ERROR "halvix_lua_blobs: expected NAME FILE pairs")
  endif()
  set(_i 1)
  while(_i LESS _n)
    list(GET _args ${_i} _file)
    list(APPEND _files ${_file})
    math(EXPR _i "${_i} + 2")
  endwhile()
  set(_dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_blobs)
  file(MAKE_DIRECTORY ${_dir})
  add_custom_command(
    OUTPUT ${_dir}/${output}
    COMMAND halvix_blobgen ${_dir}/${output} ${_args}
    DEPENDS halvix_blobgen ${_files}
    COMMENT "Compressing Lua modules into ${output}"
    VERBATIM)
  target_sources(${target} PRIVATE ${_dir}/${output})
  set_source_files_properties(${_dir}/${output} PROPERTIES HEADER_FILE_ONLY ON)
  target_include_directories(${target} PRIVATE ${_dir})
endfunction()
