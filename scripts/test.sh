#!/usr/bin/env bash
# Installs what is missing, builds everything into build-tests/ and runs the tests.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build-tests -G Ninja -DCMAKE_BUILD_TYPE=Debug
cmake --build build-tests -j2
cd build-tests
ctest --output-on-failure --timeout 600
