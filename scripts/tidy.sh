#!/usr/bin/env bash
# Runs clang-tidy (the checks of .clang-tidy) on the C++ lines changed since BASE
# and fails on any warning there, so old code does not block a branch but new
# code is held to the checks.
#   scripts/tidy.sh [BASE]    BASE defaults to the merge base with main
set -euo pipefail
cd "$(dirname "$0")/.."

base=${1:-$(git merge-base HEAD main 2>/dev/null || true)}
if [ -z "$base" ]; then
  # A checkout without main (a bare CI clone) has nothing to compare with.
  echo "tidy: no main branch to compare with; give BASE to check a range"
  exit 0
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
# Only sources have compile commands; a header's lines are checked through them.
out=$(clang-tidy-diff -p1 -path "$db" -regex '.*\.cpp' -j 2 -quiet <<<"$diff" 2>&1) || status=$?
warnings=$(grep -E ': (warning|error): ' <<<"$out" || true)
if [ -n "$warnings" ]; then
  echo "$out"
  echo "tidy: $(wc -l <<<"$warnings") warning(s) on changed lines"
  exit 1
fi
echo "tidy: clean"
exit "${status:-0}"
