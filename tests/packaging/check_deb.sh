#!/usr/bin/env bash
# Builds the Debian packages of a build folder, checks how the files are split
# between them and their architecture, and runs lintian on both where it is
# installed: any tag fails, pedantic ones included.
# Usage: check_deb.sh BUILD_DIR
set -euo pipefail
build_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$work" >/dev/null
version=$(sed -n 's/^#define INIT_BICLUSTER_VERSION "\(.*\)"$/\1/p' \
  "$build_dir/generated/init_bicluster_version.h")
# The upstream version and the Debian revision of the source package.
tool=$(echo "$work/init-bicluster_${version}-1"_*.deb)
dev=$(echo "$work/libinit-bicluster-dev_${version}-1"_*.deb)
[ "$(ls "$work"/*.deb | wc -l)" -eq 2 ] || { echo "expected exactly two packages"; exit 1; }

# expect PACKAGE PATTERN...: every pattern is a path in the package, and the
# package holds nothing but those and the folders above them.
expect() {
  local package=$1
  shift
  local files
  files=$(dpkg-deb -c "$package" | awk '$1 !~ /^d/ {print $6}')
  echo "$(basename "$package"):"
  echo "$files"
  for pattern in "$@"; do
    grep -qE "^\./$pattern\$" <<<"$files" || { echo "missing from $package: $pattern"; exit 1; }
  done
  local joined
  joined=$(IFS='|'; echo "$*")
  if grep -vqE "^\./($joined)\$" <<<"$files"; then
    echo "unexpected in $package:"; grep -vE "^\./($joined)\$" <<<"$files"; exit 1
  fi
}
lib='usr/lib/([a-z0-9_-]+/)?'
expect "$tool" 'usr/bin/init_bicluster' 'usr/share/man/man1/init_bicluster\.1\.gz' \
  'usr/share/doc/init-bicluster/(copyright|changelog\.gz|changelog\.Debian\.gz)'
expect "$dev" "${lib}libinit_bicluster\.a" 'usr/include/init_bicluster/[a-z_]+\.h' \
  "${lib}cmake/init_bicluster/init_bicluster-[a-z-]+\.cmake" "${lib}pkgconfig/init_bicluster\.pc" \
  'usr/share/doc/libinit-bicluster-dev/(copyright|changelog\.gz|changelog\.Debian\.gz)'
dpkg-deb -f "$tool" Package Version Architecture Depends
# Both are for the architecture of the build's compiler (a cross build's too).
triplet=$(sed -n 's/^CMAKE_LIBRARY_ARCHITECTURE:[A-Z]*=//p' "$build_dir/CMakeCache.txt")
if [ -n "$triplet" ]; then
  expected=$(dpkg-architecture -t "$triplet" -qDEB_HOST_ARCH 2>/dev/null)
  for package in "$tool" "$dev"; do
    architecture=$(dpkg-deb -f "$package" Architecture)
    [ "$architecture" = "$expected" ] ||
      { echo "$(basename "$package") is for $architecture, not $expected"; exit 1; }
  done
fi

if command -v lintian >/dev/null; then
  # Every tag fails, down to the informational and pedantic ones; lintian's
  # warning that it runs as root is not about the packages.
  report=$(lintian --fail-on none --info --pedantic "$tool" "$dev" 2>&1 |
           grep -v 'running with root privileges' || true)
  echo "lintian: ${report:-clean}"
  if grep -qE '^[EWIPX]: ' <<<"$report"; then exit 1; fi
fi
