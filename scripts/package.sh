#!/usr/bin/env bash
# Builds the Debian package of Quillmarsh (Release, without the tests) into dist/.
# Extra arguments go to CMake, for example -DQUILLMARSH_UPDATE_URL=https://host/newver.txt
# Environment: QUILLMARSH_PACKAGE_BUILD (build folder, default build-package),
# QUILLMARSH_PACKAGE_CONFIGURE_ONLY=1 (stop after configuring, to check the settings).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QUILLMARSH_PACKAGE_BUILD:-build-package}

bash scripts/install-deps.sh
# The build folder's cache outlives a run: the update address is given every
# time (empty unless the arguments give one), so a package never asks an
# address that only an earlier build was meant to have.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLMARSH_BUILD_TESTS=OFF \
  -DQUILLMARSH_UPDATE_URL= "$@"
if [ "${QUILLMARSH_PACKAGE_CONFIGURE_ONLY:-}" = 1 ]; then
  exit 0
fi
cmake --build "$build" -j"$(nproc)"
# The package's dependencies come from the binaries (dpkg-shlibdeps) plus the
# page engine's helper process, which is started rather than linked.
cpack --config "$build/CPackConfig.cmake" -B "$PWD/dist"
rm -rf dist/_CPack_Packages
ls -l dist/*.deb
