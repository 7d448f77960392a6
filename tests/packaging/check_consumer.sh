#!/usr/bin/env bash
# Installs the build into a fresh prefix, builds the consumer project against
# it with find_package, and compares its output with the expected file.
# Usage: check_consumer.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build_dir=$1
source_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
cmake -S "$source_dir/tests/consumer" -B "$work/build" -G Ninja \
  -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/build" >/dev/null
"$work/build/consumer" >"$work/out.txt"
cmp "$work/out.txt" "$source_dir/tests/data/example.txt"
echo "consumer output matches the known answer"
(cd "$work/prefix" && find . -type f | sort)
