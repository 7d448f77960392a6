# Installation, the CMake package for find_package, and the Debian package.
include(CMakePackageConfigHelpers)

set(package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/init_bicluster)

install(TARGETS init_bicluster RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS init_bicluster_core EXPORT init_bicluster_targets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
)
# The public interface; the other headers stay private to the library.
install(FILES
  src/init_bicluster.h
  src/output_sink.h
  src/run_params.h
  ${generated_dir}/init_bicluster_version.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/init_bicluster
)
install(FILES man/init_bicluster.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(EXPORT init_bicluster_targets
  NAMESPACE init_bicluster::
  FILE init_bicluster-targets.cmake
  DESTINATION ${package_dir}
)
configure_package_config_file(cmake/init_bicluster-config.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/init_bicluster-config.cmake
  INSTALL_DESTINATION ${package_dir}
)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/init_bicluster-config-version.cmake
  COMPATIBILITY SameMajorVersion
)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/init_bicluster-config.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/init_bicluster-config-version.cmake
  DESTINATION ${package_dir}
)

# `cpack -G DEB` in the build folder.
set(CPACK_PACKAGE_NAME init-bicluster)
set(CPACK_PACKAGE_VENDOR "init_bicluster")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Writes files of random initial biclusters for biclustering runs")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "init_bicluster maintainers <init-bicluster@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1")
include(CPack)
