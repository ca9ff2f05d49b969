#!/usr/bin/env bash
# lumaro-fetch against curl on the same local nginx, run alternately:
#   - a 1 GiB download to a file (throughput ratio lumaro/curl; target at least 0.8),
#   - 2000 small GETs over one keep-alive connection in one process (rate ratio; target 0.8),
#   - peak resident memory of a 1 GiB upload and a 1 GiB download (target at most 64 MiB).
# RUNS=n sets the number of pairs (default 3).
set -euo pipefail
cd "$(dirname "$0")/.."
fetch=build/bin/lumaro-fetch
runs=${RUNS:-3}
for tool in curl /usr/sbin/nginx /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "fetch-vs-curl: $tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done
[[ -x $fetch ]] || { echo "fetch-vs-curl: build $fetch first" >&2; exit 1; }

tmp=$(mktemp -d)
port=$(( 20000 + RANDOM % 20000 ))
mkdir -p "$tmp/root" "$tmp/logs"
head -c 1073741824 /dev/urandom > "$tmp/root/big.bin"
echo small > "$tmp/root/small.txt"
user=""; [[ $(id -u) -eq 0 ]] && user="user root;"
cat > "$tmp/nginx.conf" <<CONF
$user
worker_processes 1;
pid $tmp/nginx.pid;
events { worker_connections 256; }
http {
  access_log off;
  client_body_temp_path $tmp/body; proxy_temp_path $tmp/proxy; fastcgi_temp_path $tmp/fcgi;
  uwsgi_temp_path $tmp/uwsgi; scgi_temp_path $tmp/scgi;
  sendfile on; keepalive_requests 100000;
  server {
    listen 127.0.0.1:$port; root $tmp/root;
    location /upload { client_max_body_size 0; return 204; }
  }
}
CONF
/usr/sbin/nginx -e "$tmp/logs/error.log" -p "$tmp" -c "$tmp/nginx.conf"
trap 'kill "$(cat "$tmp/nginx.pid")" 2>/dev/null; rm -rf "$tmp"' EXIT
sleep 0.5
base=http://127.0.0.1:$port

# Runs a command; prints "milliseconds peak-kilobytes".
timed() {
  local start end
  rm -f "$tmp/out.bin"; sync
  start=$(date +%s%N)
  /usr/bin/time -f "%M" -o "$tmp/time.txt" "$@" >/dev/null
  end=$(date +%s%N)
  echo "$(( (end - start) / 1000000 )) $(cat "$tmp/time.txt")"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

urls=$(for _ in $(seq 2000); do printf "%s/small.txt " "$base"; done)
: > "$tmp/download"; : > "$tmp/small"
for i in $(seq "$runs"); do
  read -r ours ours_kb < <(timed "$fetch" -o "$tmp/out.bin" "$base/big.bin")
  read -r theirs _ < <(timed curl -s -o "$tmp/out.bin" "$base/big.bin")
  echo "download 1 GiB: lumaro ${ours} ms (${ours_kb} KB peak), curl ${theirs} ms"
  ratio "$theirs" "$ours" >> "$tmp/download"; echo >> "$tmp/download"
  # shellcheck disable=SC2086
  read -r ours _ < <(timed "$fetch" $urls)
  # shellcheck disable=SC2086
  read -r theirs _ < <(timed curl -s $urls)
  echo "2000 keep-alive GETs: lumaro ${ours} ms, curl ${theirs} ms"
  ratio "$theirs" "$ours" >> "$tmp/small"; echo >> "$tmp/small"
done
read -r _ upload_kb < <(timed "$fetch" --data-binary "@$tmp/root/big.bin" "$base/upload")
echo "download throughput ratio lumaro/curl (median): $(median < "$tmp/download")  (target >= 0.8)"
echo "keep-alive GET rate ratio lumaro/curl (median): $(median < "$tmp/small")  (target >= 0.8)"
echo "peak memory: download ${ours_kb} KB, upload ${upload_kb} KB  (target <= 65536 KB)"
