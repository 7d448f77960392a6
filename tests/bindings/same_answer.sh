#!/usr/bin/env bash
# One seed, one answer, everywhere: draws the same runs through the tool, the
# C++ library in memory, the R package and the Python module, and compares
# the files' SHA-256.
# Usage: same_answer.sh TOOL DRAW_TO_FILE R_LIBRARY PYTHON
set -euo pipefail
tool=$1 draw_to_file=$2 r_library=$3 python=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# seed, arguments 1-7 (fixed row and column 0-based, -1 for none): known
# answers, the extreme seeds, and a large run.
runs=(
  "1 6 4 2 2 3 4 2"
  "7 10 5 3 10 10 7 0"
  "31337 300 40 12 5 60 17 39"
  "0 20 5 4 1 6 3 2"
  "4294967295 20 5 4 1 6 3 2"
  "5 3000000 2 4 1000000 3000000 2999999 1"
)
for run in "${runs[@]}"; do
  read -r seed rows columns count least most row column <<<"$run"
  "$tool" --seed="$seed" "$rows" "$columns" "$count" "$least" "$most" "$row" "$column" \
    "$work/tool.txt"
  "$draw_to_file" "$rows" "$columns" "$count" "$least" "$most" "$row" "$column" "$seed" \
    "$work/cpp.txt"
  r_fixed() { if [ "$1" = -1 ]; then echo NA; else echo $(($1 + 1)); fi; }
  R_LIBS="$r_library" Rscript -e "initbicluster::write_biclusters(initbicluster::draw_biclusters(
    $rows, $columns, $count, $least, $most, $(r_fixed "$row"), $(r_fixed "$column"),
    seed = $seed), '$work/r.txt')"
  py_fixed() { if [ "$1" = -1 ]; then echo None; else echo "$1"; fi; }
  "$python" -c "import init_bicluster as ib; ib.write_biclusters(ib.draw_biclusters(
    $rows, $columns, $count, $least, $most, $(py_fixed "$row"), $(py_fixed "$column"),
    seed=$seed), '$work/python.txt')"
  sums=$(cd "$work" && sha256sum tool.txt cpp.txt r.txt python.txt)
  if [ "$(awk '{print $1}' <<<"$sums" | sort -u | wc -l)" != 1 ]; then
    echo "seed $seed, arguments $rows $columns $count $least $most $row $column differ:"
    echo "$sums"
    exit 1
  fi
  echo "seed $seed: $(awk 'NR == 1 {print $1}' <<<"$sums") from the tool, C++, R and Python"
done
