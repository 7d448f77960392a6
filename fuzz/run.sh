#!/usr/bin/env bash
# Builds the fuzz target, replays the committed corpus, then fuzzes for the
# given number of seconds (default 60). New inputs go to a scratch folder; a
# failing input is written to fuzz/artifacts/ and the script fails.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
target=build-fuzz/fuzz/fuzz_init_bicluster
options=(-max_len=512 -rss_limit_mb=2048 -timeout=20)
mkdir -p fuzz/artifacts

echo "Replaying the corpus:"
"$target" "${options[@]}" -artifact_prefix=fuzz/artifacts/ fuzz/corpus/*

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/corpus"
echo "Fuzzing for $seconds seconds:"
if ! "$target" "${options[@]}" -artifact_prefix=fuzz/artifacts/ -max_total_time="$seconds" \
    -print_final_stats=1 "$scratch/corpus" fuzz/corpus >"$scratch/log" 2>&1; then
  tail -n 60 "$scratch/log"
  exit 1
fi
grep -E '^(Done|stat::)' "$scratch/log"
