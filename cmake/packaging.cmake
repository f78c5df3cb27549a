# Debian packages, built by CPack from the install components (see
# scripts/package):
#   vorncalc          component cli: the terminal calculator and its manual page
#   libvorncalc-dev   component dev: the static library, its headers, the CMake
#                     package and vorncalc.pc
#   python3-vorncalc  component python (when the module is built): the Python
#                     package vorncalc (extension, py.typed, stubs) in
#                     Debian's dist-packages
# Each package holds its copyright file (machine-readable, the licence of
# LICENSE) and its Debian changelog under /usr/share/doc/PACKAGE; lintian
# finds no error and no warning in them (the consumer_packages test runs it).
# The packages install under CMAKE_INSTALL_PREFIX; scripts/package
# configures /usr, where GNUInstallDirs then picks Debian's library directory.
include(GNUInstallDirs)

set(VORNCALC_MAINTAINER "vorncalc developers <maintainers@vorncalc.org>"
    CACHE STRING "The packages' Maintainer field: a name and an address")
set(VORNCALC_DEBIAN_REVISION 1 CACHE STRING "The packages' Debian revision")
set(deb_version ${PROJECT_VERSION}-${VORNCALC_DEBIAN_REVISION})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorncalc)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${VORNCALC_DEBIAN_REVISION})
set(CPACK_PACKAGE_VENDOR "vorncalc developers")
set(CPACK_PACKAGE_CONTACT "${VORNCALC_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VORNCALC_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)

# Each package's description begins with its own synopsis. CPack would put
# the project's summary before it unless the summary is CPack's default.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_NAME} built using CMake")

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL cli dev)
if(VORNCALC_BUILD_PYTHON)
  list(APPEND CPACK_COMPONENTS_ALL python)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # NAME_VERSION-REVISION_ARCH.deb

set(CPACK_DEBIAN_CLI_PACKAGE_NAME vorncalc)
set(CPACK_DEBIAN_CLI_PACKAGE_SECTION math)
set(CPACK_DEBIAN_CLI_PACKAGE_SHLIBDEPS ON)  # libedit2, libstdc++6 and libc6, as linked
string(CONCAT CPACK_DEBIAN_CLI_DESCRIPTION
    "calculator and unit converter for the CAD command line\n"
    "This package holds the terminal calculator vorncalc. It evaluates formulas\n"
    "such as 2*sin(30)+5mm as the CAD command line does with the vorncalc\n"
    "plug-in: lengths with unit suffixes convert into the document's units.\n"
    "Formulas are given as arguments, read from standard input, or typed at an\n"
    "interactive prompt with line editing, history, completion of names, the\n"
    "last answer and variables.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libvorncalc-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_SUGGESTS "cmake, pkg-config")
if(VORNCALC_SLEEF)
  set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libsleef-dev")  # the static library calls it
endif()
string(CONCAT CPACK_DEBIAN_DEV_DESCRIPTION
    "compiling formula parser of vorncalc (static library)\n"
    "This package holds the formula parser MathUtils as the static library\n"
    "libvorncalc.a with its C++20 headers, the CMake package vorncalc (target\n"
    "vorncalc::vorncalc) and vorncalc.pc for pkg-config. The parser compiles a\n"
    "formula to bytecode once, folding constants, and then evaluates it with the\n"
    "current values of its variables; functions, constants and operators can be\n"
    "added.")

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-vorncalc)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SHLIBDEPS ON)  # libstdc++6 and libc6, as linked
# The extension's file name holds the Python version it was built for
# (cpython-311): only that version imports it.
set(python_version ${Python_VERSION_MAJOR}.${Python_VERSION_MINOR})
math(EXPR python_next_minor "${Python_VERSION_MINOR} + 1")
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
    "python3 (>= ${python_version}~), python3 (<< ${Python_VERSION_MAJOR}.${python_next_minor}), python3-numpy")
if(VORNCALC_NUMPY_ABI_PACKAGE)
  string(APPEND CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS ", ${VORNCALC_NUMPY_ABI_PACKAGE}")
endif()
string(CONCAT CPACK_DEBIAN_PYTHON_DESCRIPTION
    "formulas with unit suffixes over NumPy arrays (Python 3)\n"
    "This package holds the Python package vorncalc: the formula language of the\n"
    "vorncalc calculator, with unit suffixes such as 5mm, safe by construction.\n"
    "vorncalc.evaluate computes a command line as the CAD plug-in does;\n"
    "vorncalc.Formula compiles a formula once, with variables, constants and\n"
    "Python functions, and evaluates it for numbers or over NumPy arrays as\n"
    "machine code, without the GIL.")

# /usr/share/doc/PACKAGE/copyright and changelog.Debian.gz (gzip -9n, so
# that builds do not differ), and each package's lintian overrides, with
# their reasons.
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/copyright.in ${PROJECT_BINARY_DIR}/debian/copyright @ONLY)
foreach(component ${CPACK_COMPONENTS_ALL})
  string(TOUPPER ${component} upper)
  set(PACKAGE ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
  set(VERSION ${deb_version})
  set(changelog ${PROJECT_BINARY_DIR}/debian/${PACKAGE}/changelog.Debian)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.in ${changelog} @ONLY)
  execute_process(COMMAND gzip -9nf ${changelog} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip failed on ${changelog}")
  endif()
  install(FILES ${PROJECT_BINARY_DIR}/debian/copyright ${changelog}.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${PACKAGE} COMPONENT ${component})
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/${PACKAGE}.lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME ${PACKAGE} COMPONENT ${component})
endforeach()

include(CPack)
