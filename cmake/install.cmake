# Installs mathutils (the file libvorncalc.a) and the calculator
# (libvorncalc-calculator.a) with their public headers, a package config and
# a pkg-config file, so that find_package(vorncalc) gives the targets
# vorncalc::vorncalc (and vorncalc::mathutils, its earlier name) and
# vorncalc::calculator, and `pkg-config --cflags --libs vorncalc` the flags
# to build with both. The headers go under include/vorncalc, so that users include
# "parser/parser.h" as in this tree. All of it is the component `dev`.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS mathutils calculator EXPORT vorncalcTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
        FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vorncalc COMPONENT dev)
install(EXPORT vorncalcTargets NAMESPACE vorncalc::
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/vorncalc COMPONENT dev)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/vorncalcConfig.cmake.in
  ${PROJECT_BINARY_DIR}/vorncalcConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/vorncalc)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/vorncalcConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/vorncalcConfig.cmake ${PROJECT_BINARY_DIR}/vorncalcConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/vorncalc COMPONENT dev)

# vorncalc.pc finds the prefix from its own place, as the CMake package
# does, so that it holds wherever the files are installed or unpacked.
set(pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH pc_to_prefix /prefix/${pc_dir} /prefix)
string(REGEX REPLACE "/$" "" pc_to_prefix "${pc_to_prefix}")
set(PC_PREFIX "\${pcfiledir}/${pc_to_prefix}")
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/cmake/vorncalc.pc.in ${PROJECT_BINARY_DIR}/vorncalc.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/vorncalc.pc DESTINATION ${pc_dir} COMPONENT dev)
