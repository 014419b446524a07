# Installs the build tree into WORK/prefix and renders with the installed
# program from an unrelated directory, without any option naming shaders:
# the program must use the installed library and find the installed shader
# programs by itself.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/elsewhere)
set(prefix ${WORK}/prefix)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed")
endif()
if(NOT EXISTS ${prefix}/bin/vitrel)
  message(FATAL_ERROR "not installed: bin/vitrel")
endif()
execute_process(COMMAND ldd ${prefix}/bin/vitrel OUTPUT_VARIABLE libs)
if(NOT libs MATCHES "libvitrel_api.so => ${prefix}/")
  message(FATAL_ERROR "the installed program does not use the installed library:\n${libs}")
endif()
execute_process(COMMAND ${prefix}/bin/vitrel render -o out.png --size 16x16 --spp 1 -q
                WORKING_DIRECTORY ${WORK}/elsewhere RESULT_VARIABLE rc ERROR_VARIABLE err OUTPUT_QUIET)
if(NOT rc EQUAL 0 OR NOT EXISTS ${WORK}/elsewhere/out.png)
  message(FATAL_ERROR "the installed program failed (${rc}): ${err}")
endif()
