# velmora_server_library(TARGET OUTPUT_NAME SOURCES... LIBS ...): a program built on the framework as
# a shared library that a web server loads. Only the server entry points are visible: a version
# script makes every other symbol local (the same archives also go into executables, so they are
# not compiled with hidden visibility); -Bsymbolic binds the library's own calls to its own code, so a
# symbol of the same name in the host never replaces one of ours. The entry points live in the ISAPI
# and NSAPI engines' archives, which nothing else references: asking for them by name pulls them in.
set(VELMORA_LIBRARY_EXPORTS GetExtensionVersion HttpExtensionProc TerminateExtension GetFilterVersion
  HttpFilterProc NsapiService)
function(velmora_server_library target output_name)
  cmake_parse_arguments(L "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${target} SHARED ${L_SOURCES})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${output_name})
  target_link_libraries(${target} PRIVATE ${L_LIBS} velmora_general velmora_adapters)
  list(JOIN VELMORA_LIBRARY_EXPORTS "; " _globals)
  set(_script ${CMAKE_CURRENT_BINARY_DIR}/${target}.exports)
  file(WRITE ${_script} "{ global: ${_globals}; local: *; };\n")
  target_link_options(${target} PRIVATE -Wl,-Bsymbolic -Wl,--version-script=${_script})
  # In the fuzz build clang's sanitizer runtime lives in the executable that loads the library, so
  # the library cannot have every symbol resolved when it is linked.
  if(NOT VELMORA_FUZZ)
    target_link_options(${target} PRIVATE -Wl,--no-undefined)
  endif()
  set_target_properties(${target} PROPERTIES LINK_DEPENDS ${_script})
  foreach(_export ${VELMORA_LIBRARY_EXPORTS})
    target_link_options(${target} PRIVATE -Wl,--undefined=${_export})
  endforeach()
endfunction()
