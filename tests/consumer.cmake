# Installs the built library into a staging prefix, then configures, builds and
# runs examples/consumer against it, as a user's project would.
file(REMOVE_RECURSE ${WORK_DIR})
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/stage)
# Through the CMake package, with the compiler's default standard, C++17 and
# C++20 asked for: the imported target brings C++20 to each.
foreach(std default 17 20)
  set(asked "")
  if(NOT std STREQUAL "default")
    set(asked -DCMAKE_CXX_STANDARD=${std})
  endif()
  run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build-${std} -G Ninja
      -DCMAKE_PREFIX_PATH=${WORK_DIR}/stage ${asked})
  run(${CMAKE_COMMAND} --build ${WORK_DIR}/build-${std})
  run(${WORK_DIR}/build-${std}/consumer)
  message("cmake, C++ ${std}: ${last_output}")
endforeach()
# Through pkg-config, after a -std=c++17 or -std=c++20 of the user's own.
if(PKG_CONFIG)
  set(ENV{PKG_CONFIG_PATH} ${WORK_DIR}/stage/${LIBDIR}/pkgconfig)
  run(${PKG_CONFIG} --cflags --libs Utilities)
  separate_arguments(flags UNIX_COMMAND "${last_output}")
  foreach(std 17 20)
    run(${CXX} -std=c++${std} ${SOURCE_DIR}/main.cpp ${flags} -Wl,-rpath,${WORK_DIR}/stage/${LIBDIR}
        -o ${WORK_DIR}/pc-${std})
    run(${WORK_DIR}/pc-${std})
    message("pkg-config, C++ ${std}: ${last_output}")
  endforeach()
endif()
