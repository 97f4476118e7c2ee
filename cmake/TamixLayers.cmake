# Each folder under src/ is one static library. Its headers are reachable only
# through an include root of its own in the build tree, so a source file can
# include a header of another folder only when its target links that folder's
# library: a wrong include fails the build instead of quietly adding a circle.

# tamix_layer(<target> <folder> [WX] SOURCES <files...> LINKS <targets...>)
function(tamix_layer target folder)
  cmake_parse_arguments(L "WX;INTERFACE" "" "SOURCES;LINKS" ${ARGN})
  set(root ${CMAKE_BINARY_DIR}/layers/${target})
  file(REMOVE_RECURSE ${root})
  file(MAKE_DIRECTORY ${root}/${folder})
  file(GLOB headers CONFIGURE_DEPENDS
       ${PROJECT_SOURCE_DIR}/src/${folder}/*.h ${PROJECT_SOURCE_DIR}/src/${folder}/*.xpm)
  foreach(header IN LISTS headers)
    get_filename_component(name ${header} NAME)
    file(CREATE_LINK ${header} ${root}/${folder}/${name} SYMBOLIC)
  endforeach()
  if(L_INTERFACE)
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${root})
    return()
  endif()
  add_library(${target} STATIC ${L_SOURCES})
  target_include_directories(${target} PUBLIC ${root})
  target_link_libraries(${target} PUBLIC ${L_LINKS} PRIVATE tamix_warnings)
  if(L_WX)
    target_include_directories(${target} SYSTEM PUBLIC ${wxWidgets_INCLUDE_DIRS})
    target_compile_definitions(${target} PUBLIC ${wxWidgets_DEFINITIONS})
    target_compile_options(${target} PUBLIC ${wxWidgets_CXX_FLAGS})
    target_link_libraries(${target} PUBLIC ${wxWidgets_LIBRARIES})
  endif()
endfunction()
