# halvix_chroma_standin(TARGET OUTPUT_DIR [DEFINITIONS...])
# Builds the Chroma Connect library stand-in (standins/chroma_connect) as
# TARGET in OUTPUT_DIR. The shipped stand-in and the tests' variants (each
# with its own DEFINITIONS) come from the same sources.
include(GenerateExportHeader)

function(halvix_chroma_standin target output_dir)
  set(_folder ${PROJECT_SOURCE_DIR}/standins/chroma_connect)
  if(WIN32)
    set(_module ${_folder}/standin_module_win32.cpp)
  else()
    set(_module ${_folder}/standin_module_posix.cpp)
  endif()
  # One export header (dllexport on Windows, default visibility elsewhere)
  # serves every variant.
  set(_export_dir ${CMAKE_BINARY_DIR}/chroma_standin_export)
  add_library(${target} MODULE ${_folder}/chroma_connect_standin.cpp ${_module})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR} ${_export_dir})
  target_compile_definitions(${target} PRIVATE ${ARGN})
  target_link_libraries(${target} PRIVATE Threads::Threads ${CMAKE_DL_LIBS})
  set_target_properties(${target} PROPERTIES
    PREFIX "" OUTPUT_NAME ${target} SUFFIX ${CMAKE_SHARED_MODULE_SUFFIX}
    DEFINE_SYMBOL HALVIX_STANDIN_BUILDING
    CXX_VISIBILITY_PRESET hidden
    LIBRARY_OUTPUT_DIRECTORY ${output_dir})
  generate_export_header(${target} BASE_NAME chroma_standin EXPORT_MACRO_NAME HALVIX_STANDIN_EXPORT
    EXPORT_FILE_NAME ${_export_dir}/chroma_standin_export.h)
endfunction()
