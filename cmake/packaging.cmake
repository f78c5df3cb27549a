# Debian packages, built by CPack from the install components (see
# scripts/package):
#   vorncalc          component cli: the terminal calculator and its manual page
#   libvorncalc-dev   component dev: the static library, its headers, the CMake
#                     package and vorncalc.pc
# The packages install under CMAKE_INSTALL_PREFIX; scripts/package
# configures /usr, where GNUInstallDirs then picks Debian's library directory.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorncalc)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "vorncalc developers")
set(CPACK_PACKAGE_CONTACT "vorncalc developers")  # the Maintainer field
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL cli dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # NAME_VERSION_ARCH.deb

set(CPACK_DEBIAN_CLI_PACKAGE_NAME vorncalc)
set(CPACK_DEBIAN_CLI_PACKAGE_SECTION math)
set(CPACK_DEBIAN_CLI_PACKAGE_SHLIBDEPS ON)  # libedit2, libstdc++6 and libc6, as linked
# Each description follows the project's one-line summary.
string(CONCAT CPACK_COMPONENT_CLI_DESCRIPTION
    "This package holds the terminal calculator vorncalc. It evaluates formulas\n"
    "such as 2*sin(30)+5mm as the CAD command line does with the vorncalc\n"
    "plug-in: lengths with unit suffixes convert into the document's units.\n"
    "Formulas are given as arguments, read from standard input, or typed at an\n"
    "interactive prompt with line editing, history and completion of names.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libvorncalc-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_SUGGESTS "cmake, pkg-config")
string(CONCAT CPACK_COMPONENT_DEV_DESCRIPTION
    "This package holds the formula parser MathUtils as a static library with\n"
    "its C++20 headers, the CMake package vorncalc (target vorncalc::mathutils)\n"
    "and vorncalc.pc for pkg-config. The parser compiles a formula to bytecode\n"
    "once, folding constants, and then evaluates it with the current values of\n"
    "its variables; functions, constants and operators can be added.")

include(CPack)
