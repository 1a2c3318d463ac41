#!/usr/bin/env bash
# Builds the Debian package of Quillmarsh (Release, without the tests) into dist/.
# Extra arguments go to CMake, for example -DQUILLMARSH_UPDATE_URL=https://host/newver.txt
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLMARSH_BUILD_TESTS=OFF "$@"
cmake --build build-package -j"$(nproc)"
# The package's dependencies come from the binaries (dpkg-shlibdeps) plus the
# page engine's helper process, which is started rather than linked.
cpack --config build-package/CPackConfig.cmake -B "$PWD/dist"
rm -rf dist/_CPack_Packages
ls -l dist/*.deb
