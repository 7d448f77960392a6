#!/usr/bin/env bash
# Builds the Python module's source distribution and wheel offline, with
# Debian's packages, and checks what they carry: the licence in both, the
# library's sources in the source distribution (as files, not links), and no
# sources in the wheel. Usage: check_python_dist.sh PYTHON
set -euo pipefail
python=${1:-/usr/bin/python3}
here=$(cd "$(dirname "$0")/../.." && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
# A copy, with the links followed and the file the version comes from.
cp -rL "$here/python" "$out/python"
cp "$here/CMakeLists.txt" "$out/"
rm -rf "$out/python/build" "$out"/python/*.egg-info
(cd "$out/python" && "$python" -m build --no-isolation --outdir "$out/dist" . >"$out/log" 2>&1) ||
  { cat "$out/log"; exit 1; }
wheel=$(ls "$out"/dist/*.whl)
sdist=$(ls "$out"/dist/*.tar.gz)
listing=$("$python" -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$wheel")
fail() { echo "check_python_dist: $*"; exit 1; }
grep -q '\.dist-info/LICENSE$' <<<"$listing" || fail "the wheel has no LICENSE"
! grep -qE '\.(cpp|cc|h)$' <<<"$listing" || fail "the wheel carries sources: $(grep -E '\.(cpp|cc|h)$' <<<"$listing")"
contents=$(tar -tzf "$sdist")
for file in LICENSE src/core.cpp csrc/generator.cc csrc/init_bicluster.h examples/best_seed.py; do
  grep -q "^[^/]*/$file$" <<<"$contents" || fail "the source distribution lacks $file"
done
echo "check_python_dist: $(basename "$wheel") and $(basename "$sdist") carry what they should"
