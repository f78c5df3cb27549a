# Builds the Debian packages with scripts/package, unpacks them into a
# temporary root (dpkg-deb -x: the machine's own packages stay as they are),
# builds the consumer against that root twice, through find_package and
# through pkg-config, runs the unpacked calculator and imports the unpacked
# Python module with Debian's Python. lintian, when it is
# installed (scripts/install-deps package), must find no error and no warning.
# Usage: cmake -DSOURCE=... -DWORK=... -DVERSION=... -DCOMPILER=... -P packages.cmake
include(${CMAKE_CURRENT_LIST_DIR}/commands.cmake)

file(REMOVE_RECURSE ${WORK})
set(root ${WORK}/root)
run(${SOURCE}/scripts/package ${WORK}/packages ${WORK}/build)

capture(arch dpkg --print-architecture)
file(GLOB cli ${WORK}/packages/vorncalc_${VERSION}-*_${arch}.deb)
file(GLOB dev ${WORK}/packages/libvorncalc-dev_${VERSION}-*_${arch}.deb)
file(GLOB python ${WORK}/packages/python3-vorncalc_${VERSION}-*_${arch}.deb)
if(NOT cli OR NOT dev OR NOT python)
  file(GLOB built ${WORK}/packages/*)
  message(FATAL_ERROR "the packages of version ${VERSION} are missing: ${built}")
endif()

find_program(LINTIAN lintian)
if(LINTIAN)
  run(${LINTIAN} --fail-on error,warning ${cli} ${dev} ${python})
else()
  message(STATUS "lintian is not installed: the packages are not checked with it")
endif()

# Each package holds its own part of the installation, with its dependencies.
capture(cli_files dpkg-deb -c ${cli})
capture(dev_files dpkg-deb -c ${dev})
capture(python_files dpkg-deb -c ${python})
foreach(check "cli_files;/usr/bin/vorncalc" "cli_files;/usr/share/man/man1/vorncalc.1.gz"
              "cli_files;/usr/share/doc/vorncalc/copyright" "cli_files;/usr/share/doc/vorncalc/changelog.Debian.gz"
              "dev_files;/usr/share/doc/libvorncalc-dev/copyright"
              "dev_files;/usr/include/vorncalc/parser/parser.h" "dev_files;/libvorncalc.a"
              "dev_files;/usr/include/vorncalc/calculator/calculator_driver.h" "dev_files;/libvorncalc-calculator.a"
              "dev_files;/vorncalc/vorncalcConfig.cmake" "dev_files;/pkgconfig/vorncalc.pc"
              "python_files;/usr/lib/python3/dist-packages/vorncalc/_vorncalc.cpython-"
              "python_files;/usr/lib/python3/dist-packages/vorncalc/_vorncalc.pyi"
              "python_files;/usr/lib/python3/dist-packages/vorncalc/py.typed"
              "python_files;/usr/lib/python3/dist-packages/vorncalc/__init__.py"
              "python_files;/usr/share/doc/python3-vorncalc/copyright")
  list(GET check 0 listing)
  list(GET check 1 file)
  string(FIND "${${listing}}" "${file}" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "${file} is missing from the package:\n${${listing}}")
  endif()
endforeach()
foreach(file "/usr/include/" "libvorncalc.a")
  string(FIND "${cli_files}" "${file}" found)
  if(NOT found EQUAL -1)
    message(FATAL_ERROR "${file} belongs to libvorncalc-dev, not vorncalc:\n${cli_files}")
  endif()
endforeach()
capture(depends dpkg-deb -f ${cli} Depends)
if(NOT depends MATCHES "(^|, )libedit2 ")
  message(FATAL_ERROR "vorncalc does not depend on libedit2: '${depends}'")
endif()

capture(depends dpkg-deb -f ${python} Depends)
if(NOT depends MATCHES "(^|, )python3-numpy(,|$)" OR NOT depends MATCHES "(^|, )python3 \\(<< 3\\.[0-9]+\\)")
  message(FATAL_ERROR "python3-vorncalc does not depend on numpy and its Python version: '${depends}'")
endif()

run(dpkg-deb -x ${cli} ${root})
run(dpkg-deb -x ${dev} ${root})
run(dpkg-deb -x ${python} ${root})

# The calculator runs from the root.
capture(value ${root}/usr/bin/vorncalc -u m "2*sin(30)+5mm")
expect_equal("${value}" "1.005" "vorncalc from the package")

# Debian's Python imports the module from the root, not from elsewhere.
capture(value ${CMAKE_COMMAND} -E env PYTHONPATH=${root}/usr/lib/python3/dist-packages PYTHONNOUSERSITE=1
        /usr/bin/python3 -c "import numpy, vorncalc\nassert vorncalc.__file__.startswith('${root}/')\nf = vorncalc.Formula('sqrt(x^2 + y^2)', variables=('x', 'y'))\nprint(vorncalc.evaluate('2*sin(30)+5mm', units='m'), f(x=3.0, y=4.0), f(x=numpy.array([0.0]), y=1.0)[0])")
expect_equal("${value}" "1.005 5.0 1.0" "the Python module from the package")

# A CMake project finds the package under the root's prefix.
set(consumer ${SOURCE}/tests/consumer/installed)
run(${CMAKE_COMMAND} -S ${consumer} -B ${WORK}/cmake-consumer -G Ninja
    -DCMAKE_CXX_COMPILER=${COMPILER} -DCMAKE_PREFIX_PATH=${root}/usr)
run(${CMAKE_COMMAND} --build ${WORK}/cmake-consumer --target consumer)
run(${WORK}/cmake-consumer/consumer)
file(STRINGS ${WORK}/cmake-consumer/CMakeCache.txt found REGEX "^vorncalc_DIR:")
if(NOT found MATCHES "=${root}/")
  message(FATAL_ERROR "find_package found vorncalc outside the root: ${found}")
endif()

# pkg-config reads only the root's vorncalc.pc, and puts the root before
# the paths it gives.
file(GLOB_RECURSE pc_file ${root}/vorncalc.pc)
get_filename_component(pc_dir "${pc_file}" DIRECTORY)
set(pkg_env ${CMAKE_COMMAND} -E env PKG_CONFIG_LIBDIR=${pc_dir} PKG_CONFIG_PATH=
            PKG_CONFIG_SYSROOT_DIR=${root})
capture(flags ${pkg_env} pkg-config --cflags --libs vorncalc)
separate_arguments(flags UNIX_COMMAND "${flags}")
run(${COMPILER} ${SOURCE}/tests/consumer/main.cpp ${flags} -o ${WORK}/pkg-config-consumer)
run(${WORK}/pkg-config-consumer)
