# vurnel_install_plugin(FORMAT <vst|lv2> TYPE <MODULE|DIRECTORY> SOURCE <path> BINARY <path>...)
# installs a plug-in where hosts look for it: `cmake --install` without a prefix is a user
# install into ~/.<format>; with a prefix (a package's /usr included) a system install into
# <prefix>/lib/<format>, never the multiarch library folder, which hosts do not scan. BINARY is
# the path of each module below that folder, stripped when the install strips.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(VURNEL_DEFAULT_PREFIX "${CMAKE_INSTALL_PREFIX}" CACHE INTERNAL "the prefix nobody chose")
endif()

function(vurnel_install_plugin)
  cmake_parse_arguments(ARG "" "FORMAT;TYPE;SOURCE" "BINARY" ${ARGN})
  set(permissions "")
  if(ARG_TYPE STREQUAL "DIRECTORY")
    set(permissions USE_SOURCE_PERMISSIONS)
  endif()
  install(CODE "
    if(CMAKE_INSTALL_PREFIX STREQUAL \"${VURNEL_DEFAULT_PREFIX}\")
      set(vurnel_dir \"\$ENV{HOME}/.${ARG_FORMAT}\")
    else()
      set(vurnel_dir \"\${CMAKE_INSTALL_PREFIX}/lib/${ARG_FORMAT}\")
    endif()
    file(INSTALL DESTINATION \"\${vurnel_dir}\" TYPE ${ARG_TYPE} FILES \"${ARG_SOURCE}\"
         ${permissions})
    if(CMAKE_INSTALL_DO_STRIP)
      foreach(binary ${ARG_BINARY})
        execute_process(COMMAND ${CMAKE_STRIP} --strip-unneeded
                        \"\$ENV{DESTDIR}\${vurnel_dir}/\${binary}\")
      endforeach()
    endif()
  " COMPONENT plugin)
endfunction()
