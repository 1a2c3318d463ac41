#!/usr/bin/env bash
# Runs the benchmarks (a Release build in build/) and prints one table of their
# figures, the reference figures measured in the same runs, the ratios and the
# targets. Exits 1 when any benchmark misses its target or fails to run.
#   scripts/bench.sh              all: record_list task_list list_store resolve download
#   scripts/bench.sh NAME...      only those
# The download benchmark needs about 5 GB free disk and several minutes.
set -uo pipefail
cd "$(dirname "$0")/.."

names=("$@")
[ ${#names[@]} -eq 0 ] && names=(record_list task_list list_store resolve download)
bash scripts/install-deps.sh || exit 1
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null &&
  cmake --build build -j2 --target bench_record_list bench_task_list bench_list_store \
    bench_resolve quillmarsh-cli >/dev/null || exit 1

mkdir -p build/bench-logs
failed=0
rows=("benchmark | figure | reference | ratio | target | result")
for name in "${names[@]}"; do
  case $name in
    record_list) cmd=(build/bench/bench_record_list) ;;
    task_list) cmd=(build/bench/bench_task_list) ;;
    list_store) cmd=(build/bench/bench_list_store) ;;
    resolve) cmd=(env BENCH_BIN=build/bench/bench_resolve bash bench/resolve_bench.sh) ;;
    download) cmd=(bash bench/download_bench.sh) ;;
    *) echo "unknown benchmark: $name" >&2; exit 2 ;;
  esac
  log=build/bench-logs/$name.log
  echo "== $name"
  "${cmd[@]}" 2>&1 | tee "$log"
  status=${PIPESTATUS[0]}
  figures=$(sed -n 's/^BENCH //p' "$log")
  if [ -z "$figures" ]; then
    rows+=("$name | - | - | - | - | FAIL (exit $status, no figures)")
    failed=1
    continue
  fi
  while IFS= read -r line; do rows+=("$line"); done <<<"$figures"
  if [ "$status" -ne 0 ] || grep -q '| FAIL$' <<<"$figures"; then
    failed=1
    grep -q '| FAIL$' <<<"$figures" || rows+=("$name | - | - | - | - | FAIL (exit $status)")
  fi
done

echo
printf '%s\n' "${rows[@]}" | awk -F' \\| ' '
  { for (i = 1; i <= NF; i++) { cell[NR, i] = $i; if (length($i) > w[i]) w[i] = length($i) }
    if (NF > n) n = NF }
  END { for (r = 1; r <= NR; r++) { line = ""
          for (i = 1; i <= n; i++) line = line sprintf("%-" w[i] "s  ", cell[r, i])
          sub(/ +$/, "", line); print line } }'
exit "$failed"
