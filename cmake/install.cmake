# Installs mathutils with its public headers and a package config, so that
# find_package(vorncalc) gives the target vorncalc::mathutils.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS mathutils EXPORT vorncalcTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vorncalc)
install(EXPORT vorncalcTargets NAMESPACE vorncalc::
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/vorncalc)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/vorncalcConfig.cmake.in
  ${PROJECT_BINARY_DIR}/vorncalcConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/vorncalc)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/vorncalcConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/vorncalcConfig.cmake ${PROJECT_BINARY_DIR}/vorncalcConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/vorncalc)
