#!/usr/bin/env bash
# Download throughput and memory against the best tools of the kind, on the same
# files from the same loopback server in the same run:
#   method 2, six threads, six files of 256 MB  vs  aria2c -j6 (and six parallel curls)
#   method 1, one file of 1 GB                  vs  curl
# The files are served by Debian's nginx (started here on a free loopback port,
# with its own configuration and prefix), so the server is never the bottleneck.
# Served and downloaded files share one disk: ${BENCH_DIR:-/tmp/quillmarsh-bench}
# (about 5 GB free needed). Each measurement is the best of ${BENCH_RUNS:-3} runs.
# Prints times, throughput, the ratio (reference time / our time; target >= 0.9)
# and the program's peak resident memory (target < 100 MB); exits 1 when a
# target is missed.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
[ -x /usr/sbin/nginx ] || need+=(nginx-light)
command -v aria2c >/dev/null || need+=(aria2)
command -v curl >/dev/null || need+=(curl)
command -v bc >/dev/null || need+=(bc)
[ -x /usr/bin/time ] || need+=(time)
if [ ${#need[@]} -gt 0 ]; then
  apt-get update -q >/dev/null && apt-get install -y -q --no-install-recommends "${need[@]}" >/dev/null
fi
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2 --target quillmarsh-cli >/dev/null
cli=build/src/quillmarsh-cli

work=${BENCH_DIR:-/tmp/quillmarsh-bench}
runs=${BENCH_RUNS:-3}
rm -rf "$work"
mkdir -p "$work/site" "$work/ours" "$work/ref" "$work/nginx/tmp"
nginx_pid=
cleanup() {
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

echo "preparing files in $work ..."
for i in 1 2 3 4 5 6; do head -c 268435456 /dev/urandom > "$work/site/part$i.pdf"; done
head -c 1073741824 /dev/urandom > "$work/site/whole.pdf"

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat > "$work/nginx/nginx.conf" <<EOF
daemon off;
user $(id -un);
worker_processes 2;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log warn;
events { worker_connections 256; }
http {
    access_log off;
    sendfile on;
    tcp_nopush on;
    types { application/pdf pdf; }
    default_type application/octet-stream;
    client_body_temp_path $work/nginx/tmp/body;
    proxy_temp_path $work/nginx/tmp/proxy;
    fastcgi_temp_path $work/nginx/tmp/fastcgi;
    uwsgi_temp_path $work/nginx/tmp/uwsgi;
    scgi_temp_path $work/nginx/tmp/scgi;
    server {
        listen 127.0.0.1:$port;
        root $work/site;
    }
}
EOF
/usr/sbin/nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -e "$work/nginx/error.log" 2>/dev/null &
nginx_pid=$!
base="http://127.0.0.1:$port"
for _ in $(seq 50); do curl -sf -o /dev/null "$base/part1.pdf" -r 0-0 && break; sleep 0.1; done
curl -sf -o /dev/null -r 0-0 "$base/part1.pdf" || { echo "nginx did not start"; cat "$work/nginx/error.log"; exit 1; }
urls=()
for i in 1 2 3 4 5 6; do urls+=("$base/part$i.pdf"); done
printf '%s\n' "${urls[@]}" > "$work/list"

now() { date +%s.%N; }
calc() { echo "scale=2; $1" | bc; }
check() { # every downloaded file identical to the served one
  for f in "$@"; do cmp -s "$work/site/$(basename "$f")" "$f" || { echo "MISMATCH: $f"; exit 1; }; done
}
clear_downloads() { rm -rf "$work/ours"/* "$work/ref"/*; sync; }

# best_time VAR RSSVAR COMMAND...: runs COMMAND $runs times, keeps the best time
# (and the highest peak resident memory of all runs, in MB, when RSSVAR is not "-").
best_time() {
  local var=$1 rssvar=$2 best= rss=0 t0 t1 t
  shift 2
  for _ in $(seq "$runs"); do
    clear_downloads
    t0=$(now)
    /usr/bin/time -f "%M" -o "$work/rss" "$@" >/dev/null 2>&1
    t1=$(now)
    t=$(calc "$t1 - $t0")
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc)" = 1 ]; then
      best=$t
    fi
    t=$(( $(cat "$work/rss") / 1024 ))
    [ "$t" -gt "$rss" ] && rss=$t
  done
  printf -v "$var" '%s' "$best"
  [ "$rssvar" = - ] || printf -v "$rssvar" '%s' "$rss"
}

failed=0
# verdict LABEL FIGURE REFERENCE RATIO TARGET OK: one line of the summary table.
verdict() {
  local result=PASS
  [ "$6" = 1 ] || { result=FAIL; failed=1; }
  echo "BENCH $1 | $2 | $3 | $4 | $5 | $result"
}
at_least() { [ "$(echo "$1 >= $2" | bc)" = 1 ] && echo 1 || echo 0; }

report() { # label seconds megabytes
  printf '  %-24s %6.2f s  %7.0f MB/s\n' "$1" "$2" "$(calc "$3 / $2")"
}

echo "== method 2, 6 threads, 6 x 256 MB (best of $runs)"
best_time ours rss2 "$cli" download --method 2 --threads 6 --max-mb 4096 --dir "$work/ours" "${urls[@]}"
check "$work"/ours/part*.pdf
best_time aria - aria2c -q -j6 -x1 --file-allocation=none --allow-overwrite=true \
  --auto-file-renaming=false -d "$work/ref" -i "$work/list"
# Six parallel curls as a second reference: aria2c is single-threaded, so on a busy
# machine it can fall behind what the network and disk allow.
best_time curl6 - bash -c 'for u in "$@"; do curl -s -o "$0/$(basename "$u")" "$u" & done; wait' \
  "$work/ref" "${urls[@]}"
report "quillmarsh method 2" "$ours" 1536
report "aria2c -j6" "$aria" 1536
report "curl x 6 in parallel" "$curl6" 1536
echo "  ratio (aria2c time / ours): $(calc "$aria / $ours")   target >= 0.9"
echo "  ratio (curl x 6 time / ours): $(calc "$curl6 / $ours")"
echo "  peak resident memory of quillmarsh: ${rss2} MB   target < 100 MB"
verdict "download, method 2" "${ours} s" "aria2c ${aria} s" "$(calc "$aria / $ours")" ">= 0.9" \
  "$(at_least "$(calc "$aria / $ours")" 0.9)"
verdict "download, method 2 memory" "${rss2} MB" - - "< 100 MB" "$([ "$rss2" -lt 100 ] && echo 1)"

echo "== method 1, one file of 1 GB (best of $runs)"
best_time ours rss1 "$cli" download --method 1 --max-mb 4096 --dir "$work/ours" "$base/whole.pdf"
check "$work/ours/whole.pdf"
best_time curl1 - curl -s -o "$work/ref/whole.pdf" "$base/whole.pdf"
report "quillmarsh method 1" "$ours" 1024
report "curl" "$curl1" 1024
echo "  ratio (curl time / ours): $(calc "$curl1 / $ours")   target >= 0.9"
echo "  peak resident memory of quillmarsh: ${rss1} MB   target < 100 MB"
verdict "download, method 1" "${ours} s" "curl ${curl1} s" "$(calc "$curl1 / $ours")" ">= 0.9" \
  "$(at_least "$(calc "$curl1 / $ours")" 0.9)"
verdict "download, method 1 memory" "${rss1} MB" - - "< 100 MB" "$([ "$rss1" -lt 100 ] && echo 1)"
exit "$failed"
