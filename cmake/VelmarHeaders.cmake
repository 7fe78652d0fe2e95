# velmar_public_headers(<target> <dir> [<header>...]): what <target> and whoever links it
# may include from the directory that calls this, always as "<dir>/<header>": the headers
# listed, or with no list the whole directory. They are linked into a folder of the build
# tree that becomes the target's public include path, so that a header not listed (an
# internal one) cannot be reached from another directory: its include fails to compile.
# The directory's own sources and tests add ${PROJECT_SOURCE_DIR}/src privately.
function(velmar_public_headers target dir)
  set(_root ${CMAKE_CURRENT_BINARY_DIR}/public)
  file(REMOVE_RECURSE ${_root})  # removes links, never what they point to
  if(ARGN)
    file(MAKE_DIRECTORY ${_root}/${dir})
    foreach(_header IN LISTS ARGN)
      file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR}/${_header} ${_root}/${dir}/${_header} SYMBOLIC)
    endforeach()
  else()
    file(MAKE_DIRECTORY ${_root})
    file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${_root}/${dir} SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC ${_root})
endfunction()
