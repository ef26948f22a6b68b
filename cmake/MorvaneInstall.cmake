# Installation: the library with its SONAME link, the public headers, a
# pkg-config file and a CMake package (find_package(Morvane) -> Morvane::morvane).
# The package also works from the build tree (Morvane_DIR=<build folder>): its
# target there names the built library and the source tree's headers.
include(CMakePackageConfigHelpers)

install(TARGETS morvane EXPORT MorvaneTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/include/morvane
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")
install(EXPORT MorvaneTargets NAMESPACE Morvane::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Morvane)
export(EXPORT MorvaneTargets NAMESPACE Morvane::
  FILE ${CMAKE_BINARY_DIR}/MorvaneTargets.cmake)

configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/MorvaneConfig.cmake.in
  ${CMAKE_BINARY_DIR}/MorvaneConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Morvane)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/MorvaneConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/MorvaneConfig.cmake
  ${CMAKE_BINARY_DIR}/MorvaneConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Morvane)

include(${CMAKE_SOURCE_DIR}/cmake/MorvanePkgConfig.cmake)
morvane_configure_pc(${CMAKE_BINARY_DIR}/morvane.pc)
install(FILES ${CMAKE_BINARY_DIR}/morvane.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
