#!/usr/bin/env bash
# A cached answer served from disk against cp of the same file: lumaro-fetch with --cache
# answering a 100 MiB file from its permanent store into -o, without asking the server
# (nginx's access log is checked for it), and cp copying the cache's body file to the same
# place, run alternately. Prints the medians and the ratio cp/lumaro (target: at least 0.8).
# RUNS=n sets the number of pairs (default 5).
set -euo pipefail
cd "$(dirname "$0")/.."
fetch=build/bin/lumaro-fetch
runs=${RUNS:-5}
source bench/require.sh
require cache-vs-cp "$fetch" /usr/sbin/nginx cp

tmp=$(mktemp -d)
port=$(( 20000 + RANDOM % 20000 ))
mkdir -p "$tmp/root" "$tmp/logs"
head -c 104857600 /dev/urandom > "$tmp/root/big.bin"
user=""; [[ $(id -u) -eq 0 ]] && user="user root;"
cat > "$tmp/nginx.conf" <<CONF
$user
worker_processes 1;
pid $tmp/nginx.pid;
events { worker_connections 64; }
http {
  log_format brief '\$request_method \$uri \$status';
  access_log $tmp/logs/access.log brief;
  client_body_temp_path $tmp/body; proxy_temp_path $tmp/proxy; fastcgi_temp_path $tmp/fcgi;
  uwsgi_temp_path $tmp/uwsgi; scgi_temp_path $tmp/scgi;
  sendfile on;
  server { listen 127.0.0.1:$port; root $tmp/root; expires 1h; }
}
CONF
/usr/sbin/nginx -e "$tmp/logs/error.log" -p "$tmp" -c "$tmp/nginx.conf"
trap 'kill "$(cat "$tmp/nginx.pid")" 2>/dev/null; rm -rf "$tmp"' EXIT
sleep 0.5
url=http://127.0.0.1:$port/big.bin
cache=(--cache "$tmp/cache" --cache-policy 4 --cache-permanent)

"$fetch" "${cache[@]}" -o "$tmp/out.bin" "$url"
body=$(ls "$tmp"/cache/PermanentStore/*.bin)
cmp -s "$body" "$tmp/root/big.bin" || { echo "cache-vs-cp: the cache did not keep the body" >&2; exit 1; }

# Runs a command with out.bin removed first; prints milliseconds.
timed() {
  local start end
  rm -f "$tmp/out.bin"; sync
  start=$(date +%s%N)
  "$@" >/dev/null
  end=$(date +%s%N)
  echo $(( (end - start) / 1000000 ))
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

: > "$tmp/ours"; : > "$tmp/cp"
for _ in $(seq "$runs"); do
  timed "$fetch" "${cache[@]}" -o "$tmp/out.bin" "$url" >> "$tmp/ours"
  cmp -s "$tmp/out.bin" "$tmp/root/big.bin" || { echo "cache-vs-cp: wrong body" >&2; exit 1; }
  timed cp "$body" "$tmp/out.bin" >> "$tmp/cp"
done
requests=$(grep -c 'GET /big.bin' "$tmp/logs/access.log")
[[ $requests -eq 1 ]] || { echo "cache-vs-cp: $requests requests reached nginx, expected 1" >&2; exit 1; }
ours=$(median < "$tmp/ours"); theirs=$(median < "$tmp/cp")
echo "100 MiB from the cache: lumaro-fetch ${ours} ms, cp ${theirs} ms, ratio cp/lumaro $(awk -v a="$theirs" -v b="$ours" 'BEGIN { printf "%.2f", a / b }') (target >= 0.8)"
