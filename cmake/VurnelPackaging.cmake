# What a Linux user installs: the program, its manual page and the documents a Debian package
# carries ("runtime", beside the "plugin" component of the two plug-in modules), the packages
# CPack makes of them (vurnel, libvurnel-dev) and the Windows zip of the MinGW DLLs.

# The manual page, compressed as Debian keeps manual pages; the changelog in Debian's format.
configure_file(${PROJECT_SOURCE_DIR}/docs/vurnel.1 ${PROJECT_BINARY_DIR}/vurnel.1 @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${PROJECT_BINARY_DIR}/changelog @ONLY)
find_program(VURNEL_GZIP gzip REQUIRED)
foreach(doc vurnel.1 changelog)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/${doc}.gz
    COMMAND ${VURNEL_GZIP} -9nkf ${PROJECT_BINARY_DIR}/${doc}
    DEPENDS ${PROJECT_BINARY_DIR}/${doc} VERBATIM)
endforeach()
add_custom_target(vurnel_docs ALL DEPENDS ${PROJECT_BINARY_DIR}/vurnel.1.gz
                                          ${PROJECT_BINARY_DIR}/changelog.gz)

if(TARGET vurnel)
  # Not part of a plain `cmake --install` (a user install of the plug-ins needs no root):
  # cmake --install BUILD --component runtime --prefix /usr/local
  install(TARGETS vurnel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
          EXCLUDE_FROM_ALL)
  install(FILES ${PROJECT_BINARY_DIR}/vurnel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT runtime EXCLUDE_FROM_ALL)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/pipewire-vurnel.conf
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vurnel/examples COMPONENT runtime
          EXCLUDE_FROM_ALL)
  # The application menu's "Vurnel tone control" (`vurnel desktop edit`) and its icon.
  if(VURNEL_EDITOR)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/vurnel-tone-control.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT runtime EXCLUDE_FROM_ALL)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/vurnel.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT runtime
            EXCLUDE_FROM_ALL)
  endif()
endif()
foreach(package_and_component "vurnel;runtime" "libvurnel-dev;dev")
  list(GET package_and_component 0 package)
  list(GET package_and_component 1 component)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${PROJECT_BINARY_DIR}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component}
          EXCLUDE_FROM_ALL)
endforeach()

# cpack -G DEB in a release build: vurnel (plug-ins, program, manual) and libvurnel-dev.
set(CPACK_PACKAGE_NAME vurnel)
set(CPACK_PACKAGE_VENDOR "The Vurnel authors")
set(CPACK_PACKAGE_CONTACT "The Vurnel authors <vurnel-authors@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_VURNEL_PACKAGE_NAME vurnel)
set(CPACK_DEBIAN_VURNEL_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_DEVEL_PACKAGE_NAME libvurnel-dev)
set(CPACK_DEBIAN_DEVEL_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_VURNEL_DESCRIPTION
"stereo bass and treble tone control (VST 3, VST 2 and LV2) and its host
MIRVAK_Vurnel is a stereo bass and treble tone control computed in 80-bit
extended precision: the dry signal plus a first-order lowpass copy scaled by
the bass gain plus a first-order highpass copy scaled by the treble gain.
This package holds the VST 2 module (/usr/lib/vst), the same effect as a VST 3
plug-in (/usr/lib/vst3) and as an LV2 plug-in (/usr/lib/lv2), both with an
editor that shows its response curve, and
vurnel, a command-line host that renders audio files through VST 2 plug-ins,
shows the designs of the filter library and puts the tone control into the
desktop's audio (PipeWire), with a window in the application menu.")
set(CPACK_DEBIAN_DEVEL_DESCRIPTION
"IIR filter-design library and plug-in frame of Vurnel (development files)
Butterworth, Chebyshev and Bessel filters, lowpass, highpass, bandpass and
bandstop, orders 1 to 8, designed and run in 80-bit extended precision; the
small VST 2 plug-in frame and the tone-control effect. Static libraries,
headers and the CMake package (find_package(vurnel), vurnel::dsp).")
if(TARGET vurnel_python)
  include(${PROJECT_SOURCE_DIR}/cmake/VurnelPythonPackage.cmake)
endif()
include(CPack)
cpack_add_component_group(vurnel)
cpack_add_component_group(devel)
cpack_add_component(plugin GROUP vurnel)
cpack_add_component(runtime GROUP vurnel)
cpack_add_component(dev GROUP devel)
