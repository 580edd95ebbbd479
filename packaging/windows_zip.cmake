# cmake -DSOURCE=<repo> -DVERSION=x.y.z -DWIN32_DLL=... -DWIN64_DLL=... [-DWIN64_VST3=...]
#       -DOUT=<dir> -P windows_zip.cmake
# Makes OUT/vurnel-VERSION-windows.zip: win32/ and win64/ MIRVAK_Vurnel.dll (stripped), the VST 3
# bundle vurnel.vst3/Contents/x86_64-win/vurnel.vst3 (WIN64_VST3, stripped), a short README
# (where hosts look for VST 2 DLLs and VST 3 bundles) and the licence, in DOS line endings.
set(stage ${OUT}/vurnel-${VERSION}-windows)
file(REMOVE_RECURSE ${stage})
foreach(bits 32 64)
  if(bits EQUAL 32)
    set(dll ${WIN32_DLL})
    set(strip i686-w64-mingw32-strip)
  else()
    set(dll ${WIN64_DLL})
    set(strip x86_64-w64-mingw32-strip)
  endif()
  if(NOT EXISTS ${dll})
    message(FATAL_ERROR "missing ${dll}")
  endif()
  file(MAKE_DIRECTORY ${stage}/win${bits})
  execute_process(COMMAND ${strip} --strip-unneeded -o ${stage}/win${bits}/MIRVAK_Vurnel.dll ${dll}
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${strip} failed on ${dll}")
  endif()
endforeach()
if(WIN64_VST3)
  if(NOT EXISTS ${WIN64_VST3})
    message(FATAL_ERROR "missing ${WIN64_VST3}")
  endif()
  file(MAKE_DIRECTORY ${stage}/vurnel.vst3/Contents/x86_64-win)
  execute_process(COMMAND x86_64-w64-mingw32-strip --strip-unneeded
                          -o ${stage}/vurnel.vst3/Contents/x86_64-win/vurnel.vst3 ${WIN64_VST3}
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "x86_64-w64-mingw32-strip failed on ${WIN64_VST3}")
  endif()
endif()
set(PROJECT_VERSION ${VERSION})
configure_file(${SOURCE}/packaging/windows-README.txt ${stage}/README.txt @ONLY NEWLINE_STYLE DOS)
configure_file(${SOURCE}/LICENSE ${stage}/LICENSE.txt COPYONLY)
file(READ ${stage}/LICENSE.txt licence)
string(REPLACE "\n" "\r\n" licence "${licence}")
file(WRITE ${stage}/LICENSE.txt "${licence}")
file(REMOVE ${OUT}/vurnel-${VERSION}-windows.zip)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${OUT}/vurnel-${VERSION}-windows.zip
                        --format=zip vurnel-${VERSION}-windows
                WORKING_DIRECTORY ${OUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "zip failed")
endif()
message(STATUS "wrote ${OUT}/vurnel-${VERSION}-windows.zip")
