#!/usr/bin/env bash
# Builds the binary packages of the Debian source package from a copy of the
# checkout, as an admin would on Debian 12: the build dependencies from
# debian/control with mk-build-deps, then dpkg-buildpackage with Debian's own
# interpreters first on the path. Checks them with lintian (every tag fails,
# pedantic ones included, but those overridden with a reason), installs
# them, runs debian/tests/installed against them, and purges them, which must
# leave none of their files behind. Needs root.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
version=$(dpkg-parsechangelog -l "$source_dir/debian/changelog" -S Version)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tree="$work/init-bicluster-${version%-*}"
mkdir "$tree"
(cd "$source_dir" && git ls-files -z --cached --others --exclude-standard |
  tar --null -T - -cf -) | tar -C "$tree" -xf -
cd "$tree"

mk-build-deps --install --remove --tool 'apt-get -y --no-install-recommends' debian/control \
  >"$work/build-deps.log" 2>&1 || { cat "$work/build-deps.log"; exit 1; }
start=$SECONDS
PATH=/usr/sbin:/usr/bin:/sbin:/bin dpkg-buildpackage -us -uc -b >"$work/build.log" 2>&1 ||
  { tail -n 80 "$work/build.log"; exit 1; }
echo "built in $((SECONDS - start)) s:"
(cd "$work" && ls ./*.deb)

changes=$(echo "$work"/init-bicluster_"${version}"_*.changes)
report=$(lintian --fail-on none --info --pedantic "$changes" 2>&1 |
         grep -v 'running with root privileges' || true)
echo "lintian: ${report:-clean}"
if grep -qE '^[EWIPX]: ' <<<"$report"; then exit 1; fi

packages=(init-bicluster libinit-bicluster-dev r-cran-initbicluster python3-init-bicluster)
debs=()
for package in "${packages[@]}"; do debs+=("$(echo "$work/${package}_${version}"_*.deb)"); done
apt-get install -y --no-install-recommends "${debs[@]}" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; exit 1; }
sh debian/tests/installed

files=$(dpkg -L "${packages[@]}" | sort -u)
dpkg --purge "${packages[@]}" init-bicluster-build-deps >/dev/null
left=$(while read -r file; do [ -f "$file" ] && echo "$file"; done <<<"$files" || true)
if [ -n "$left" ]; then echo "left behind by dpkg --purge:"; echo "$left"; exit 1; fi
echo "dpkg --purge left none of the packages' files"
