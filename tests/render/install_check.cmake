# Installs the build tree into WORK/prefix, then compiles and links a C99
# host against WORK/prefix/include and the installed library alone.
file(REMOVE_RECURSE ${WORK})
set(prefix ${WORK}/prefix)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed")
endif()
file(GLOB libdirs ${prefix}/lib*)
list(GET libdirs 0 libdir)
foreach(f include/vitrel_api.h share/vitrel/shaders/eye_path.rgen.spv
          share/vitrel/shaders/filter.comp.nofloat.spv share/vitrel/shaders/aov.comp.spv
          share/vitrel/glsl/eye_path.rgen share/vitrel/glsl/light_path.comp
          share/vitrel/glsl/gpu_layout.h)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
execute_process(COMMAND ${C_COMPILER} -std=c99 -Wall -Wextra -Werror -pedantic
                        -I ${prefix}/include ${SOURCE} -o ${WORK}/host
                        -L ${libdir} -lvitrel_api -Wl,-rpath,${libdir}
                RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "C host does not build against the installed tree:\n${err}")
endif()
execute_process(COMMAND ${WORK}/host RESULT_VARIABLE rc OUTPUT_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT out MATCHES "host ok")
  message(FATAL_ERROR "C host failed (${rc}): ${out}")
endif()
