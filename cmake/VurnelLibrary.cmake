# vurnel_library(<name> SOURCES ... HEADERS ... [LINK ...]): a static library vurnel_<name>
# with the alias vurnel::<name>, its headers as an installable file set, the include folder for
# the build and for installs, and the project's warnings.
function(vurnel_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;HEADERS;LINK" ${ARGN})
  set(target vurnel_${name})
  add_library(${target} STATIC ${ARG_SOURCES})
  add_library(vurnel::${name} ALIAS ${target})
  # Installed, it is vurnel::<name> too (not vurnel::vurnel_<name>).
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${name})
  target_sources(${target} PUBLIC FILE_SET HEADERS BASE_DIRS ${CMAKE_CURRENT_SOURCE_DIR}
    FILES ${ARG_HEADERS})
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/vurnel>)
  target_compile_features(${target} PUBLIC cxx_std_17)
  if(ARG_LINK)
    target_link_libraries(${target} PUBLIC ${ARG_LINK})
  endif()
  vurnel_target_defaults(${target})
endfunction()
