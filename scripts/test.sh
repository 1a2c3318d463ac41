#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the tests.
#   scripts/test.sh             plain build in build-tests/
#   scripts/test.sh --sanitize  AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-tests
extra=()
if [ "${1:-}" = "--sanitize" ]; then
  build=build-asan
  extra=(-DQUILLMARSH_SANITIZE=ON)
  here=$(pwd)
  # Strict for every test; tests/CMakeLists.txt adds the library suppressions for
  # the tests that start the browser engine or sound, and only for them.
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$here/scripts/sanitizer/ubsan.supp"
  export LSAN_OPTIONS="print_suppressions=0"
fi

bash scripts/install-deps.sh
# A rebuild on the same machine reuses what an earlier one compiled.
command -v ccache >/dev/null && extra+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug "${extra[@]}"
cmake --build "$build" -j2
cd "$build"
ctest --output-on-failure --timeout 600
