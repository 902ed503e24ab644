# travek_import_library(TARGET DEF_TEMPLATE DLL_NAME)
#
# Configures the module-definition template (its @STDCALL_n@ become the STDCALL_n
# suffixes the top-level CMakeLists.txt sets) into the binary folder, makes
# an import library of it with dlltool, and defines TARGET, an INTERFACE
# library that links it. A program linked with TARGET binds DLL_NAME by the
# ordinals the .def file gives, whichever library takes that DLL's place.
function(travek_import_library target def_template dll_name)
  get_filename_component(def_name ${def_template} NAME_WE)
  set(def ${CMAKE_CURRENT_BINARY_DIR}/${def_name}.def)
  configure_file(${def_template} ${def} @ONLY)
  set(lib ${CMAKE_CURRENT_BINARY_DIR}/lib${target}.a)
  add_custom_command(OUTPUT ${lib}
    COMMAND ${CMAKE_DLLTOOL} --input-def ${def} --dllname ${dll_name} --output-lib ${lib}
    DEPENDS ${def})
  add_custom_target(${target}_lib DEPENDS ${lib})
  add_library(${target} INTERFACE)
  add_dependencies(${target} ${target}_lib)
  target_link_libraries(${target} INTERFACE ${lib})
endfunction()
