#!/usr/bin/env bash
# Builds the Debian package of a build folder and checks what it holds.
# Usage: check_deb.sh BUILD_DIR
set -euo pipefail
build_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$work" >/dev/null
package=$(ls "$work"/*.deb)
contents=$(dpkg-deb -c "$package")
echo "$contents"
# The library folder is lib/ or lib/<multiarch>/ depending on how the build was configured.
for path in '/usr/bin/init_bicluster' '/usr/share/man/man1/init_bicluster\.1' \
            '/usr/include/init_bicluster/init_bicluster\.h' '/usr/lib/([a-z0-9_-]+/)?libinit_bicluster\.a' \
            '/usr/lib/([a-z0-9_-]+/)?cmake/init_bicluster/init_bicluster-config\.cmake'; do
  grep -qE " \.$path\$" <<<"$contents" || { echo "missing from the package: $path"; exit 1; }
done
dpkg-deb -f "$package" Package Version Depends
