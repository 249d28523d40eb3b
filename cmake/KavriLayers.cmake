# kavri_add_layer(<target> <folder> [STATIC sources...])
# A static library for the sources of one folder. Its headers are included as
# "<folder>/name.h", and only through an include root that holds just that folder, so a
# library can include the headers of the layers it links and of no other.
function(kavri_add_layer target folder)
  add_library(${target} STATIC ${ARGN})
  target_compile_features(${target} PUBLIC cxx_std_17)
  set(_root ${PROJECT_BINARY_DIR}/layers/${folder})
  file(MAKE_DIRECTORY ${_root})
  if(NOT EXISTS ${_root}/${folder})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${_root}/${folder} SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${_root}>)
  kavri_apply_warnings(${target})
endfunction()
