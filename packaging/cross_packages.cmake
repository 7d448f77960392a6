# Read by cpack in a cross build: the Debian tools it runs work for the
# architecture of the packages, not for the build machine's.
if(CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
  set(ENV{DEB_HOST_ARCH} "${CPACK_DEBIAN_PACKAGE_ARCHITECTURE}")
endif()
