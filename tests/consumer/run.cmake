# Builds and runs a consumer project against this repository, either through
# `cmake --install` and find_package (MODE installed) or add_subdirectory
# (MODE embedded). Usage: cmake -DMODE=... -DSOURCE=... -DBUILD=... -DWORK=... -P run.cmake
include(${CMAKE_CURRENT_LIST_DIR}/commands.cmake)

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
