#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) into build-fuzz/ and runs each for SECONDS.
#   scripts/fuzz.sh [SECONDS] [TARGET...]     SECONDS defaults to 60; all targets by default
# Each target starts from its seeds in fuzz/seeds/NAME (read only) and the inputs
# earlier runs kept in build-fuzz/corpus/NAME; an input that fails is written to
# build-fuzz/crashes/. Prints executions per target and exits 1 when any failed.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
[ $# -gt 0 ] && shift
all=(fuzz_file_type fuzz_save_names fuzz_ensure_folder fuzz_page_parse fuzz_version_replace
  fuzz_response_head)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all[@]}")

bash scripts/install-deps.sh
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B build-fuzz -G Ninja -DQUILLMARSH_FUZZ=ON -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_COMPILER=clang++ "${launcher[@]}" >/dev/null
cmake --build build-fuzz -j2 --target "${targets[@]}"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
mkdir -p build-fuzz/crashes build-fuzz/logs
failed=0
rows=()
for target in "${targets[@]}"; do
  name=${target#fuzz_}
  corpus=build-fuzz/corpus/$name
  mkdir -p "$corpus"
  dict=()
  [ -f "fuzz/$name.dict" ] && dict=(-dict="fuzz/$name.dict")
  log=build-fuzz/logs/$name.log
  echo "== $target for ${seconds}s"
  status=0
  "build-fuzz/fuzz/$target" -max_total_time="$seconds" -timeout=20 -print_final_stats=1 \
    -artifact_prefix="build-fuzz/crashes/$name-" "${dict[@]}" "$corpus" "fuzz/seeds/$name" \
    >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  result=ok
  if [ "$status" -ne 0 ]; then
    result=FAILED
    failed=1
    grep -E "ERROR|check failed|runtime error|Test unit written|SUMMARY" "$log" | head -20 || true
  fi
  rows+=("$(printf '%-22s %14s %10s %8s %s' "$target" "${runs:-?}" "${speed:-?}" \
    "$(find "$corpus" -type f | wc -l)" "$result")")
done
printf '\n%-22s %14s %10s %8s %s\n' target executions "exec/s" corpus result
printf '%s\n' "${rows[@]}"
exit "$failed"
