# Installation, the CMake and pkg-config packages, and the Debian packages:
# init-bicluster (the tool and its manual page) and libinit-bicluster-dev (the
# library, its headers and the package files).
include(CMakePackageConfigHelpers)

set(INIT_BICLUSTER_MAINTAINER "init_bicluster maintainers <maintainers@init-bicluster.example.org>"
  CACHE STRING "Maintainer of the Debian packages: a name and a mail address")

set(package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/init_bicluster)
set(packaging_dir ${CMAKE_CURRENT_BINARY_DIR}/packaging)

install(TARGETS init_bicluster RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
# The C library's start files bring a .comment section that -fno-ident cannot
# keep out; the installed tool goes without it, as Debian's strip leaves it.
if(CMAKE_OBJCOPY)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_BINDIR}")
    set(installed_tool "\$ENV{DESTDIR}${CMAKE_INSTALL_BINDIR}")
  else()
    set(installed_tool "\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}")
  endif()
  install(CODE "execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
      \"${installed_tool}/$<TARGET_FILE_NAME:init_bicluster>\" COMMAND_ERROR_IS_FATAL ANY)"
    COMPONENT tool)
endif()
install(TARGETS init_bicluster_core EXPORT init_bicluster_targets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
)
# The public interface; the other headers stay private to the library.
install(FILES
  src/bicluster_set.h
  src/init_bicluster.h
  src/output_sink.h
  src/run_params.h
  ${generated_dir}/init_bicluster_version.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/init_bicluster
  COMPONENT dev
)

# Debian wants manual pages and changelogs compressed, without a time stamp
# in the gzip header so that the bytes do not depend on the build.
find_program(GZIP gzip REQUIRED)
# The changelogs, upstream's and Debian's, and the copyright are those of the
# Debian source package.
foreach(file_and_name IN ITEMS man/init_bicluster.1:init_bicluster.1 CHANGELOG.md:changelog
                               debian/changelog:changelog.Debian)
  string(REPLACE ":" ";" pair ${file_and_name})
  list(GET pair 0 file)
  list(GET pair 1 name)
  add_custom_command(OUTPUT ${packaging_dir}/${name}.gz
    COMMAND ${GZIP} -9 -n -c ${PROJECT_SOURCE_DIR}/${file} > ${packaging_dir}/${name}.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/${file}
    VERBATIM
  )
endforeach()
add_custom_target(compressed_documents ALL
  DEPENDS ${packaging_dir}/init_bicluster.1.gz ${packaging_dir}/changelog.gz
          ${packaging_dir}/changelog.Debian.gz)
install(FILES ${packaging_dir}/init_bicluster.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
  COMPONENT tool)
foreach(component_and_package IN ITEMS tool:init-bicluster dev:libinit-bicluster-dev)
  string(REPLACE ":" ";" pair ${component_and_package})
  list(GET pair 0 component)
  list(GET pair 1 package)
  install(FILES ${packaging_dir}/changelog.gz ${packaging_dir}/changelog.Debian.gz debian/copyright
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endforeach()

install(EXPORT init_bicluster_targets
  NAMESPACE init_bicluster::
  FILE init_bicluster-targets.cmake
  DESTINATION ${package_dir}
  COMPONENT dev
)
configure_package_config_file(packaging/init_bicluster-config.cmake.in
  ${packaging_dir}/init_bicluster-config.cmake
  INSTALL_DESTINATION ${package_dir}
)
write_basic_package_version_file(${packaging_dir}/init_bicluster-config-version.cmake
  COMPATIBILITY SameMajorVersion
)
install(FILES
  ${packaging_dir}/init_bicluster-config.cmake
  ${packaging_dir}/init_bicluster-config-version.cmake
  DESTINATION ${package_dir}
  COMPONENT dev
)
# The prefix is the one given at install time (cmake --install --prefix).
install(CODE "
  set(CMAKE_INSTALL_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(CMAKE_INSTALL_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
  configure_file(\"${PROJECT_SOURCE_DIR}/packaging/init_bicluster.pc.in\"
                 \"${packaging_dir}/init_bicluster.pc\" @ONLY)
  " COMPONENT dev)
install(FILES ${packaging_dir}/init_bicluster.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT dev)

# `cpack -G DEB` in the build folder makes one package per component.
set(CPACK_PACKAGE_NAME init-bicluster)
set(CPACK_PACKAGE_VENDOR "the init_bicluster authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The Debian revision of the source package's changelog.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGE_CONTACT "${INIT_BICLUSTER_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL tool dev)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# CPack names the build machine's architecture; a cross build's packages are
# for the architecture of its compiler.
if(CMAKE_CROSSCOMPILING AND CMAKE_LIBRARY_ARCHITECTURE)
  execute_process(COMMAND dpkg-architecture -t ${CMAKE_LIBRARY_ARCHITECTURE} -qDEB_HOST_ARCH
                  OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  # dpkg-shlibdeps then reads the tool with the target's objdump and takes its
  # dependencies from that architecture's libraries (libc6:arm64, ...).
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/cross_packages.cmake)
endif()
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${INIT_BICLUSTER_MAINTAINER}")
set(CPACK_DEBIAN_TOOL_PACKAGE_NAME init-bicluster)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION science)
set(CPACK_DEBIAN_TOOL_PACKAGE_SHLIBDEPS ON)
set(CPACK_COMPONENT_TOOL_DESCRIPTION "write files of random initial biclusters
init_bicluster writes the starting point of a biclustering run: a text file
of initial biclusters for a data matrix of a given size. Each bicluster is a
random set of rows, of a random size between a least and a greatest count,
together with every column; one row and one column may be fixed. Runs are
reproducible from a seed, and the output file is replaced in one step.")
set(CPACK_DEBIAN_DEV_PACKAGE_NAME libinit-bicluster-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DESCRIPTION "library for drawing, writing and reading initial biclusters
The static library behind init_bicluster, with its C++ headers, a CMake
package (find_package(init_bicluster)) and a pkg-config file. It checks the
arguments of a run and writes its bicluster file, for an explicit seed, to
any output sink, byte for byte as the tool does; draws the same biclusters
into memory, whole or one at a time; and reads bicluster files back
strictly.")
include(CPack)
