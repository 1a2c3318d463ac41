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

diff=$(git diff -U0 "$base" -- '*.cpp' '*.h' ':!fuzz/*')
if [ -z "$diff" ]; then
  echo "tidy: no C++ changes since $base"
  exit 0
fi
echo "tidy: lines changed since $(git rev-parse --short "$base")"
jobs=$(python3 scripts/tidy_lines.py "$db/compile_commands.json" <<<"$diff")
out=$(while IFS=$'\t' read -r source filter; do
  [ -n "$source" ] || continue
  printf '%s\0%s\0' "$source" "$filter"
done <<<"$jobs" | xargs -0 -n2 -P2 sh -c 'clang-tidy -p "$0" -quiet -line-filter="$2" "$1" 2>&1 || true' "$db")
warnings=$(grep -E ': (warning|error): ' <<<"$out" || true)
if [ -n "$warnings" ]; then
  echo "$out"
  echo "tidy: $(wc -l <<<"$warnings") warning(s) on changed lines"
  exit 1
fi
echo "tidy: clean ($(grep -c . <<<"$jobs" || true) source(s))"
