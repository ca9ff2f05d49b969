#!/usr/bin/env bash
# lumaro-fetch against curl on 127.0.0.1, run alternately, with medians and ratios:
#   - a 1 GiB download to /dev/null and to a file (throughput; target: at least 0.8 of curl's);
#   - 2,000 small GETs in one invocation over keep-alive (rate at least 0.8 of curl's, one
#     connection);
#   - a 1 GiB upload streamed from disk and a 1 GiB download to a file (peak resident memory
#     at most 64 MiB).
# It starts its own nginx in a temporary folder and removes everything when it ends.
# BENCH_RUNS sets the number of runs of each timed case (default 5).
set -euo pipefail
[[ -n ${BENCH_TRACE:-} ]] && set -x
cd "$(dirname "$0")/.."

runs=${BENCH_RUNS:-5}
fetch=${LUMARO_BIN:-$PWD/build/bin}/lumaro-fetch
for tool in "$fetch" curl nginx /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done

work=$(mktemp -d)
nginx_pid=
cleanup() {
  [[ -n $nginx_pid ]] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/www/put" "$work/temp" "$work/logs"
# nginx's workers may run as another user.
chmod 755 "$work" "$work/www"
chmod 777 "$work/www/put" "$work/temp"
echo "preparing a 1 GiB file..."
head -c 1073741824 /dev/urandom >"$work/www/big"
# Text, so that the counts that -w writes after each body stand on lines of their own.
printf '%0511d\n' 0 | tr 0 s >"$work/www/small"
size=$(stat -c %s "$work/www/big")

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat >"$work/nginx.conf" <<EOF
daemon off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/logs/error.log;
events { worker_connections 256; }
http {
  access_log $work/logs/access.log;
  client_body_temp_path $work/temp;
  proxy_temp_path $work/temp;
  fastcgi_temp_path $work/temp;
  uwsgi_temp_path $work/temp;
  scgi_temp_path $work/temp;
  sendfile on;
  tcp_nopush on;
  keepalive_requests 100000;
  keepalive_timeout 75s;
  server {
    listen 127.0.0.1:$port;
    root $work/www;
    location /put/ {
      dav_methods PUT;
      client_max_body_size 0;
    }
  }
}
EOF
nginx -c "$work/nginx.conf" -p "$work" &
nginx_pid=$!
for _ in $(seq 50); do
  curl -s -o /dev/null "http://127.0.0.1:$port/small" && break
  sleep 0.1
done
base="http://127.0.0.1:$port"

now() { date +%s%N; }
median() { sort -g | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
# Peak resident memory of a command, in MiB.
peak_mib() {
  /usr/bin/time -f '%M' -o "$work/time.out" "$@" >/dev/null 2>&1
  tail -n 1 "$work/time.out" | awk '{printf "%.1f", $1/1024}'
}

# Throughput of one tool downloading the big file to a destination, in MiB/s.
download() {
  local tool=$1 destination=$2 start end
  rm -f "$work/out"
  start=$(now)
  if [[ $tool == curl ]]; then
    curl -sf -o "$destination" "$base/big"
  else
    "$fetch" --fail -o "$destination" "$base/big"
  fi
  end=$(now)
  [[ $destination == /dev/null ]] || [[ $(stat -c %s "$destination") == "$size" ]] ||
    { echo "$tool: short download" >&2; exit 1; }
  awk -v b="$size" -v ns=$((end - start)) 'BEGIN {printf "%.1f\n", b / 1048576 / (ns / 1e9)}'
}

urls=()
for _ in $(seq 2000); do urls+=("$base/small"); done
# Requests per second of one tool making 2,000 small GETs; the connections it opened go to
# $work/connections.
many_gets() {
  local tool=$1 start end
  start=$(now)
  # Both write every body to standard output, each followed by the number of connections
  # that transfer opened.
  if [[ $tool == curl ]]; then
    curl -s -w '%{num_connects}\n' "${urls[@]}" | awk '/^[0-9]+$/ {n += $1} END {print n}' \
      >"$work/connections"
  else
    "$fetch" -w '%{num_connects}\n' "${urls[@]}" | awk '/^[0-9]+$/ {n += $1} END {print n}' \
      >"$work/connections"
  fi
  end=$(now)
  awk -v ns=$((end - start)) 'BEGIN {printf "%.0f\n", 2000 / (ns / 1e9)}'
}

report() {  # name, unit, lumaro values file, curl values file
  local l c
  l=$(median <"$3")
  c=$(median <"$4")
  awk -v n="$1" -v u="$2" -v l="$l" -v c="$c" \
    'BEGIN {printf "%-28s lumaro %10.1f %-6s curl %10.1f %-6s ratio %.2f (target >= 0.80)\n", n, l, u, c, u, l / c}'
}

: >"$work/null.l"; : >"$work/null.c"; : >"$work/file.l"; : >"$work/file.c"
: >"$work/gets.l"; : >"$work/gets.c"
connections_l=0; connections_c=0
for i in $(seq "$runs"); do
  echo "run $i of $runs..."
  # Alternate who goes first, so that neither always meets a warmer cache.
  if ((i % 2)); then order="lumaro curl"; else order="curl lumaro"; fi
  for tool in $order; do
    suffix=${tool:0:1}
    download "$tool" /dev/null >>"$work/null.$suffix"
    download "$tool" "$work/out" >>"$work/file.$suffix"
  done
  # The small requests take well under a second: three rounds per run steady their median.
  for _ in 1 2 3; do
    for tool in $order; do
      many_gets "$tool" >>"$work/gets.${tool:0:1}"
      if [[ $tool == curl ]]; then
        connections_c=$(cat "$work/connections")
      else
        connections_l=$(cat "$work/connections")
      fi
    done
  done
done
rm -f "$work/out"

echo
echo "== speed (medians of $runs runs; $((runs * 3)) for the small GETs)"
report "1 GiB download to /dev/null" MiB/s "$work/null.l" "$work/null.c"
report "1 GiB download to a file" MiB/s "$work/file.l" "$work/file.c"
report "2000 small GETs" req/s "$work/gets.l" "$work/gets.c"
echo "connections for 2000 GETs: lumaro $connections_l, curl $connections_c (target: 1)"

echo
echo "== peak resident memory (target <= 64 MiB for lumaro-fetch)"
up_l=$(peak_mib "$fetch" -X PUT --data-binary "@$work/www/big" "$base/put/upload")
up_c=$(peak_mib curl -s -X PUT --data-binary "@$work/www/big" "$base/put/upload")
[[ $(stat -c %s "$work/www/put/upload") == "$size" ]] || { echo "upload incomplete" >&2; exit 1; }
down_l=$(peak_mib "$fetch" -o "$work/out" "$base/big")
down_c=$(peak_mib curl -s -o "$work/out" "$base/big")
printf '%-28s lumaro %6s MiB   curl %6s MiB\n' "1 GiB upload from disk" "$up_l" "$up_c"
printf '%-28s lumaro %6s MiB   curl %6s MiB\n' "1 GiB download to a file" "$down_l" "$down_c"
