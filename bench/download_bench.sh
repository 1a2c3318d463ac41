#!/usr/bin/env bash
# Download throughput and memory, against curl and aria2c on the same files from
# the same loopback server in the same run:
#   method 2, six threads, six files of 256 MB  vs  six parallel curl and aria2c -j6
#   method 1, one file of 1 GB                  vs  curl
# Prints both times, the throughput ratio (reference time / our time; target >= 0.9)
# and the program's peak resident memory (target < 100 MB).
# Needs about 8 GB of free disk space in ${BENCH_DIR:-/tmp/quillmarsh-bench}.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
command -v curl >/dev/null || need+=(curl)
command -v aria2c >/dev/null || need+=(aria2)
command -v bc >/dev/null || need+=(bc)
[ -x /usr/bin/time ] || need+=(time)
if [ ${#need[@]} -gt 0 ]; then
  apt-get update -q >/dev/null && apt-get install -y -q --no-install-recommends "${need[@]}" >/dev/null
fi
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2 --target quillmarsh-cli quillmarsh-fixture-server >/dev/null

work=${BENCH_DIR:-/tmp/quillmarsh-bench}
rm -rf "$work"
mkdir -p "$work/site" "$work/ours" "$work/curl" "$work/aria2"
trap 'kill $server 2>/dev/null || true; rm -rf "$work"' EXIT
for i in 1 2 3 4 5 6; do head -c 268435456 /dev/urandom > "$work/site/part$i.pdf"; done
head -c 1073741824 /dev/urandom > "$work/site/whole.pdf"

build/tests/quillmarsh-fixture-server --root "$work/site" --port-file "$work/port" >/dev/null &
server=$!
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
base="http://127.0.0.1:$(cat "$work/port")"
urls=()
for i in 1 2 3 4 5 6; do urls+=("$base/part$i.pdf"); done

now() { date +%s.%N; }
ratio() { echo "scale=2; $1 / $2" | bc; }
secs() { echo "scale=2; $2 - $1" | bc; }

check() { # folder: every file identical to the served one
  for f in "$@"; do cmp -s "$work/site/$(basename "$f")" "$f" || { echo "MISMATCH: $f"; exit 1; }; done
}

echo "== method 2, 6 threads, 6 x 256 MB"
t0=$(now)
/usr/bin/time -f "%M" -o "$work/rss2" build/src/quillmarsh-cli download --method 2 --threads 6 --max-mb 4096 \
  --dir "$work/ours" "${urls[@]}" >/dev/null 2>&1
t1=$(now); ours=$(secs "$t0" "$t1")
check "$work"/ours/part*.pdf
t0=$(now)
pids=()
for u in "${urls[@]}"; do curl -s -o "$work/curl/$(basename "$u")" "$u" & pids+=($!); done
wait "${pids[@]}"
t1=$(now); curl6=$(secs "$t0" "$t1")
printf '%s\n' "${urls[@]}" > "$work/list"
t0=$(now)
aria2c -q -j6 -x1 --file-allocation=none --allow-overwrite=true -d "$work/aria2" -i "$work/list"
t1=$(now); aria=$(secs "$t0" "$t1")
echo "quillmarsh ${ours}s   curl x6 ${curl6}s (ratio $(ratio "$curl6" "$ours"))   aria2c -j6 ${aria}s (ratio $(ratio "$aria" "$ours"))"
echo "peak resident memory: $(( $(cat "$work/rss2") / 1024 )) MB"
rm -f "$work"/ours/* "$work"/curl/* "$work"/aria2/*

echo "== method 1, one 1 GB file"
t0=$(now)
/usr/bin/time -f "%M" -o "$work/rss1" build/src/quillmarsh-cli download --method 1 --max-mb 4096 \
  --dir "$work/ours" "$base/whole.pdf" >/dev/null 2>&1
t1=$(now); ours=$(secs "$t0" "$t1")
check "$work/ours/whole.pdf"
t0=$(now)
curl -s -o "$work/curl/whole.pdf" "$base/whole.pdf"
t1=$(now); curl1=$(secs "$t0" "$t1")
echo "quillmarsh ${ours}s   curl ${curl1}s (ratio $(ratio "$curl1" "$ours"))"
echo "peak resident memory: $(( $(cat "$work/rss1") / 1024 )) MB"
rm -f "$work"/ours/*

echo "== method 2, one 1 GB file (memory)"
/usr/bin/time -f "%M" -o "$work/rss3" build/src/quillmarsh-cli download --method 2 --max-mb 4096 \
  --dir "$work/ours" "$base/whole.pdf" >/dev/null 2>&1
check "$work/ours/whole.pdf"
echo "peak resident memory: $(( $(cat "$work/rss3") / 1024 )) MB"
