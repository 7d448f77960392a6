#!/usr/bin/env bash
# Installs the build into a fresh prefix, checks that its headers name only
# installed headers, then builds two consumers against it as C++17, one with
# CMake's find_package and one with pkg-config, and compares their output with
# the expected file; and the two programs of docs/library.md that draw into
# memory and read a file back.
# Usage: check_consumer.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build_dir=$1
source_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
expected="$source_dir/tests/data/example.txt"

cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
# An installed header names only headers that are installed beside it.
for header in "$work"/prefix/include/init_bicluster/*.h; do
  for named in $(grep -v '#include <' "$header" | grep -oE '\b[a-z_0-9]+\.h\b' | sort -u); do
    [ -f "$work/prefix/include/init_bicluster/$named" ] ||
      { echo "$(basename "$header") names $named, which is not installed"; exit 1; }
  done
done
cmake -S "$source_dir/tests/consumer" -B "$work/build" -G Ninja \
  -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/build" >/dev/null
"$work/build/consumer" >"$work/cmake.txt"
cmp "$work/cmake.txt" "$expected"
echo "the CMake consumer's output matches the known answer"
test "$("$work/build/sizes")" = "bicluster 0: 3 rows
bicluster 1: 3 rows"
test "$("$work/build/check_file" "$expected")" = "2 biclusters of 5 rows and 4 columns"
printf 'BICLUSTER 0\n4\n1 1 \n' >"$work/bad.txt"
test "$("$work/build/check_file" "$work/bad.txt" 2>&1)" = \
  "$work/bad.txt: line 3: a row not listed before in this bicluster, found '1 '"
echo "the programs that draw into memory and read a file back work as documented"

pc_file=$(find "$work/prefix" -name init_bicluster.pc)
export PKG_CONFIG_PATH
PKG_CONFIG_PATH=$(dirname "$pc_file")
# shellcheck disable=SC2046 # the flags are words
c++ -std=c++17 -Wall -Wextra -Wpedantic -Werror "$source_dir/tests/consumer/main.cc" \
  $(pkg-config --cflags --libs init_bicluster) -o "$work/pkg-config-consumer"
"$work/pkg-config-consumer" >"$work/pkg-config.txt"
cmp "$work/pkg-config.txt" "$expected"
echo "the pkg-config consumer's output matches the known answer"
(cd "$work/prefix" && find . -type f | sort)
