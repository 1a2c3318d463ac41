#!/usr/bin/env bash
# scripts/package.sh keeps its build folder between runs: an update address
# given to one run must not stay in the cache for the next.
# Usage: check_package_script.sh SOURCE_DIR
set -euo pipefail
src=$1

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

build=$(mktemp -d)
trap 'rm -rf "$build"' EXIT
export QUILLMARSH_PACKAGE_BUILD=$build QUILLMARSH_PACKAGE_CONFIGURE_ONLY=1
# The address the program is built with, as the generated header has it.
built_url() {
  sed -n 's/^#define QUILLMARSH_UPDATE_URL "\(.*\)"$/\1/p' "$build/src/generated/version.h"
}

url=http://127.0.0.1:9/Brindle/newver.txt
bash "$src/scripts/package.sh" "-DQUILLMARSH_UPDATE_URL=$url" >/dev/null
[ "$(built_url)" = "$url" ] || fail "given address not built in: '$(built_url)'"
bash "$src/scripts/package.sh" >/dev/null
[ -z "$(built_url)" ] || fail "address of the earlier run kept: '$(built_url)'"
bash "$src/scripts/package.sh" -DQUILLMARSH_UPDATE_URL:STRING=https://example.org/v.txt >/dev/null
[ "$(built_url)" = https://example.org/v.txt ] || fail "typed address not built in"
echo "package script: the update address is the one given, every run"
