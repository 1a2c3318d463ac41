#!/usr/bin/env bash
# Builds Quillmarsh (Release, into build/) and starts it.
#   scripts/run.sh          the program
#   scripts/run.sh --demo   the program on the bundled offline demo site
set -euo pipefail
cd "$(dirname "$0")/.."

demo=0
args=()
for a in "$@"; do
  case "$a" in
    --demo) demo=1 ;;
    *) args+=("$a") ;;
  esac
done

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2 --target quillmarsh quillmarsh-cli quillmarsh-fixture-server

export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:-} --disable-gpu"
[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: starting Quillmarsh under Xvfb (:99)." >&2
  Xvfb :99 -screen 0 1600x1000x24 >/dev/null 2>&1 &
  export DISPLAY=:99
  sleep 1
fi

if [ "$demo" -eq 1 ]; then
  if [ ! -x build/tests/quillmarsh-fixture-server ] || [ ! -f demo/site/index.html ]; then
    echo "The offline demo site is not part of this build yet." >&2
    exit 1
  fi
  port_file=$(mktemp)
  build/tests/quillmarsh-fixture-server --root demo/site --port-file "$port_file" &
  server=$!
  trap 'kill $server 2>/dev/null || true; rm -f "$port_file"' EXIT
  for _ in $(seq 50); do [ -s "$port_file" ] && break; sleep 0.1; done
  args+=(--home-url "http://127.0.0.1:$(cat "$port_file")/index.html")
fi

build/src/quillmarsh "${args[@]}"
