#!/usr/bin/env bash
# The R package and the Python module built with AddressSanitizer and
# UndefinedBehaviorSanitizer, and their tests run under them (the sanitizers'
# runtime preloaded into R and Python), the random arrays and objects that
# must be refused or written back among them; but the test that limits a
# child's address space, which the sanitizers' shadow cannot live within.
# Usage: check_sanitized_bindings.sh
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
flags="-g -O1 -fsanitize=address,undefined -fno-omit-frame-pointer"
preload="$(gcc -print-file-name=libasan.so):$(gcc -print-file-name=libubsan.so)"
export ASAN_OPTIONS=detect_leaks=0:halt_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

printf 'CXX20FLAGS = %s\nLDFLAGS = -fsanitize=address,undefined\n' "$flags" >"$work/Makevars"
mkdir "$work/library"
R_MAKEVARS_USER="$work/Makevars" R CMD INSTALL --no-test-load --library="$work/library" \
  "$source_dir/r" >"$work/r.log" 2>&1 || { cat "$work/r.log"; exit 1; }
LD_PRELOAD=$preload Rscript -e "library(initbicluster, lib.loc = '$work/library')" \
  -e 'library(testthat)' \
  -e "test_dir('$source_dir/r/tests/testthat', stop_on_failure = TRUE)"

/usr/bin/python3 -m venv --system-site-packages "$work/venv"
cp -rL "$source_dir/python" "$work/python"
cp "$source_dir/CMakeLists.txt" "$work/"
rm -rf "$work/python/build"
(cd "$work/python" && CFLAGS="$flags" LDFLAGS="-fsanitize=address,undefined" \
  "$work/venv/bin/pip" install --no-build-isolation --no-index . >"$work/python.log" 2>&1) ||
  { cat "$work/python.log"; exit 1; }
(cd "$work" && LD_PRELOAD=$preload "$work/venv/bin/python" -m pytest -q -p no:cacheprovider \
  -k 'not memory_a_read_needs' "$source_dir/python/tests")
