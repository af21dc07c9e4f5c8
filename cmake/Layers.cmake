# One library per folder of src/, linked only to the layers below it.
#
# A layer's headers are included as "<layer>/Name.h". The include path of a layer holds only
# the layers it links (each one's own folder under build/layers/<layer>/<layer>, a link to
# src/<layer>), so an include that points upward names a file the compiler cannot see and
# the build fails there instead of a cycle growing unnoticed.
#
# vel_add_layer(<layer> [PORTABLE files...] [WIN32 files...] [DEPENDS layers...] [LIBS libs...])
#   PORTABLE  sources without the Windows API: every tree builds them
#   WIN32     sources of the Win32 edge: Windows trees only
#   DEPENDS   lower layers (names without the vel_ prefix)
#   LIBS      other libraries the layer links
function(vel_add_layer layer)
  cmake_parse_arguments(L "" "" "PORTABLE;WIN32;DEPENDS;LIBS" ${ARGN})
  set(sources ${L_PORTABLE})
  if(WIN32)
    list(APPEND sources ${L_WIN32})
  endif()
  set(root ${CMAKE_BINARY_DIR}/layers/${layer})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${layer} SYMBOLIC)
  set(deps)
  foreach(d IN LISTS L_DEPENDS)
    list(APPEND deps vel_${d})
  endforeach()
  if(sources)
    add_library(vel_${layer} STATIC ${sources})
    target_include_directories(vel_${layer} PUBLIC ${root})
    target_link_libraries(vel_${layer} PUBLIC vel_options ${deps} ${L_LIBS})
  else()
    add_library(vel_${layer} INTERFACE)
    target_include_directories(vel_${layer} INTERFACE ${root})
    target_link_libraries(vel_${layer} INTERFACE vel_options ${deps} ${L_LIBS})
  endif()
endfunction()
