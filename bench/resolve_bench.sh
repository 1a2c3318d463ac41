#!/usr/bin/env bash
# Landing pages with and without the hidden browser's blocking of pictures,
# fonts and style sheets, and the per-record time of a whole analysis, on the
# demo site served by Debian's nginx on loopback: once at full loopback speed,
# once throttled per connection as a network link would be (RATE, default 256k
# bytes/s per connection; a browser opens six per host).
# Prints both times and their ratio (target: blocking at least 2x faster on
# the throttled server, the same PDFs found); exits 1 when the target is missed.
# BENCH_BIN=path/to/bench_resolve skips the Release build.
set -euo pipefail
cd "$(dirname "$0")/.."

command -v nginx >/dev/null || {
  apt-get update -q >/dev/null && apt-get install -y -q --no-install-recommends nginx-light >/dev/null
}
bench=${BENCH_BIN:-}
if [ -z "$bench" ]; then
  bash scripts/install-deps.sh
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build -j2 --target bench_resolve >/dev/null
  bench=build/bench/bench_resolve
fi

rate=${RATE:-256k}
site=$(pwd)/demo/site
work=$(mktemp -d)
trap 'if [ -s "$work/nginx.pid" ]; then kill "$(cat "$work/nginx.pid")" 2>/dev/null || true; fi; rm -rf "$work"' EXIT
read -r plain throttled < <(python3 -c '
import socket
s=[socket.socket() for _ in range(2)]
for x in s: x.bind(("127.0.0.1", 0))
print(*[x.getsockname()[1] for x in s])')

# The routes the static files cannot express, as the test server reads them.
routes=""
while read -r kind a b c; do
  case "$kind" in
    redirect) routes+="location = $b { return $a $c; } " ;;
    stall) mark=$(grep -bo '<!--stall-->' "$site$b" | cut -d: -f1)
           routes+="location = $a { default_type text/html; rewrite ^ $b break; limit_rate_after $mark; limit_rate 1; } " ;;
  esac
done < <(grep -v '^#' "$site/.routes")

mkdir -p "$work/tmp"
user=""
[ "$(id -u)" -eq 0 ] && user="user root;"
cat > "$work/nginx.conf" <<CONF
$user
worker_processes 2;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 512; }
http {
  access_log off;
  include /etc/nginx/mime.types;
  default_type application/octet-stream;
  client_body_temp_path $work/tmp;
  proxy_temp_path $work/tmp;
  fastcgi_temp_path $work/tmp;
  uwsgi_temp_path $work/tmp;
  scgi_temp_path $work/tmp;
  server { listen 127.0.0.1:$plain; root $site; $routes }
  server { listen 127.0.0.1:$throttled; root $site; limit_rate $rate; $routes }
}
CONF
nginx -p "$work" -c "$work/nginx.conf"
for _ in $(seq 50); do [ -s "$work/nginx.pid" ] && break; sleep 0.1; done

echo "nginx on loopback; throttled server: $rate bytes/s per connection"
"$bench" "$site" "http://127.0.0.1:$plain" "http://127.0.0.1:$throttled" 2>/dev/null
