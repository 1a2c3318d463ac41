#!/usr/bin/env bash
# Runs clang-tidy (the checks of .clang-tidy) on the C++ lines changed since BASE,
# in sources and headers, and fails on any warning there, so old code does not
# block a branch but new code is held to the checks.
#   scripts/tidy.sh [BASE]
# BASE defaults to the merge base with main on a branch. On main itself (as in
# CI) it is the commit named in .ci/tidy-base, where the last submission ended,
# so the commits of this one are checked; without it, the last commit.
set -euo pipefail
cd "$(dirname "$0")/.."

base=${1:-}
if [ -z "$base" ]; then
  merged=$(git merge-base HEAD main 2>/dev/null || true)
  recorded=$(tr -d '[:space:]' <.ci/tidy-base 2>/dev/null || true)
  if [ -n "$merged" ] && [ "$merged" != "$(git rev-parse HEAD)" ]; then
    base=$merged
  elif [ -n "$recorded" ] && git cat-file -e "$recorded^{commit}" 2>/dev/null; then
    base=$recorded
  elif git rev-parse -q --verify HEAD^ >/dev/null; then
    base=HEAD^
  else
    echo "tidy: a single commit has nothing to compare with; give BASE to check a range"
    exit 0
  fi
fi
bash scripts/install-deps.sh
cmake -S . -B build-tests -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
  >/dev/null
# Generated sources (moc, resources, version) must exist before a file is read.
cmake --build build-tests -j2 >/dev/null

# The build uses g++; clang does not know g++'s coroutine switch.
db=$(mktemp -d)
trap 'rm -rf "$db"' EXIT
sed 's/ -fcoroutines / /g' build-tests/compile_commands.json >"$db/compile_commands.json"

# Fuzz targets are built by clang on their own (scripts/fuzz.sh), outside this database.
diff=$(git -c core.quotePath=false diff -U0 "$base" -- '*.cpp' '*.h' ':!fuzz/*')
if [ -z "$diff" ]; then
  echo "tidy: no C++ changes since $base"
  exit 0
fi
echo "tidy: lines changed since $(git rev-parse --short "$base")"
jobs=$(python3 scripts/tidy_lines.py "$db/compile_commands.json" <<<"$diff")
unchecked=$(sed -n 's/^UNCHECKED\t/tidy: not checked: /p' <<<"$jobs")
jobs=$(grep -v '^UNCHECKED' <<<"$jobs" || true)
# One log per source, so two jobs at once never mix their lines. clang-tidy exits
# non-zero on a warning (WarningsAsErrors), a compile error or a crash alike.
status=0
i=0
while IFS=$'\t' read -r source filter; do
  [ -n "$source" ] || continue
  i=$((i + 1))
  printf '%s\0%s\0%s\0' "$source" "$filter" "$db/job$i.log"
done <<<"$jobs" | xargs -r -0 -n3 -P2 sh -c \
  'clang-tidy -p "$0" -quiet -line-filter="$2" "$1" >"$3" 2>&1 ||
   echo "tidy: clang-tidy exited $? on $1" >>"$3"' "$db" || status=$?
failed=$(cat "$db"/job*.log 2>/dev/null | grep -E '^tidy: clang-tidy exited' || true)
if [ -n "$failed" ] || [ -n "$unchecked" ] || [ "$status" -ne 0 ]; then
  cat "$db"/job*.log 2>/dev/null || true
  [ -z "$unchecked" ] || echo "$unchecked"
  echo "tidy: failed ($(grep -c . <<<"$failed" || true) source(s) with warnings or errors)"
  exit 1
fi
echo "tidy: clean ($(grep -c . <<<"$jobs" || true) source(s))"
