# The model (src/port, src/effects) never includes the view (src/ui), and the
# port layer never includes the effects. Included by src/CMakeLists.txt with
# LAYERS_ROOT set, so that configuring fails on a reach across; also runs
# alone: cmake -DLAYERS_ROOT=<folder> -P layers.cmake.

# Fails if a source or header of root/layer includes a header found in one of
# the folders after it (root/<folder>/*.h).
function(travek_forbid_includes root layer)
  set(forbidden)
  foreach(folder ${ARGN})
    file(GLOB headers RELATIVE ${root}/${folder} ${root}/${folder}/*.h)
    list(APPEND forbidden ${headers})
  endforeach()
  file(GLOB sources ${root}/${layer}/*.cpp ${root}/${layer}/*.h)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${sources})
  foreach(source ${sources})
    file(STRINGS ${source} includes REGEX "^[ \t]*#[ \t]*include")
    foreach(line ${includes})
      foreach(header ${forbidden})
        string(REPLACE "." "\\." pattern ${header})
        if(line MATCHES "[\"</]${pattern}[\">]")
          file(RELATIVE_PATH shown ${root} ${source})
          message(FATAL_ERROR "layers: ${shown} includes ${header}, above its layer (${ARGN})")
        endif()
      endforeach()
    endforeach()
  endforeach()
endfunction()

travek_forbid_includes(${LAYERS_ROOT} effects ui)
travek_forbid_includes(${LAYERS_ROOT} port effects ui)
