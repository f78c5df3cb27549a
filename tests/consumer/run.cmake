# Builds and runs a consumer project against this repository, either through
# `cmake --install` and find_package (MODE installed) or add_subdirectory
# (MODE embedded). Usage: cmake -DMODE=... -DSOURCE=... -DBUILD=... -DWORK=... -P run.cmake
function(run)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGV}\n${out}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK})
set(consumer ${SOURCE}/tests/consumer/${MODE})
set(toolchain -G Ninja -DCMAKE_CXX_COMPILER=${COMPILER} "-DCMAKE_CXX_FLAGS=${FLAGS}")
if(MODE STREQUAL "installed")
  run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${WORK}/prefix)
  run(${CMAKE_COMMAND} -S ${consumer} -B ${WORK}/build ${toolchain} -DCMAKE_PREFIX_PATH=${WORK}/prefix)
else()
  run(${CMAKE_COMMAND} -S ${consumer} -B ${WORK}/build ${toolchain} -DVORNCALC_SOURCE_DIR=${SOURCE})
endif()
run(${CMAKE_COMMAND} --build ${WORK}/build --target consumer)
run(${WORK}/build/consumer)
