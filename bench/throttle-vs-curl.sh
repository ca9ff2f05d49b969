#!/usr/bin/env bash
# lumaro-fetch --limit-rate against curl --limit-rate on one local server, run alternately:
#   - a 2 MiB download and a 2 MiB upload at 200k (target 10 s +- 10% each),
#   - two 1 MiB downloads at once under one 200k limit (-Z): lumaro shares one limit between
#     them, so both end after about 10 s; curl limits each transfer on its own (about 5 s),
#   - a 1 MiB download at 100k (target 10 s +- 10%).
# The server reads every upload to its end before it answers, so an upload's time is the
# time its body took on the wire. RUNS=n sets the number of rounds (default 1).
set -euo pipefail
cd "$(dirname "$0")/.."
fetch=build/bin/lumaro-fetch
runs=${RUNS:-1}
source bench/require.sh
require throttle-vs-curl "$fetch" curl /usr/bin/python3

tmp=$(mktemp -d)
head -c 2097152 /dev/urandom > "$tmp/2m.bin"
head -c 1048576 /dev/urandom > "$tmp/1m.bin"
cat > "$tmp/server.py" <<'PY'
import http.server, os, sys
class Handler(http.server.SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    def log_message(self, *args): pass
    def do_POST(self):
        left = int(self.headers.get("Content-Length", "0"))
        while left > 0:
            piece = self.rfile.read(min(left, 65536))
            if not piece: break
            left -= len(piece)
        self.send_response(204)
        self.send_header("Content-Length", "0")
        self.end_headers()
os.chdir(sys.argv[1])
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
PY
/usr/bin/python3 "$tmp/server.py" "$tmp" > "$tmp/port" &
server=$!
trap 'kill $server 2>/dev/null; rm -rf "$tmp"' EXIT
for _ in $(seq 50); do [[ -s $tmp/port ]] && break; sleep 0.1; done
base=http://127.0.0.1:$(cat "$tmp/port")

# Runs a command; prints its wall time in seconds.
# "-o FILE" as the last two arguments keeps standard output there.
timed() {
  local start end out=/dev/null
  if [[ ${*: -2:1} == -o ]]; then out=${*: -1}; set -- "${@:1:$#-2}"; fi
  start=$(date +%s%N)
  "$@" >"$out"
  end=$(date +%s%N)
  awk -v ns=$((end - start)) 'BEGIN { printf "%.2f", ns / 1e9 }'
}
verdict() { awk -v s="$1" -v lo="$2" -v hi="$3" 'BEGIN { print (s >= lo && s <= hi) ? "ok" : "MISSED" }'; }

for i in $(seq "$runs"); do
  echo "round $i"
  ours=$(timed "$fetch" --limit-rate 200k -o /dev/null "$base/2m.bin")
  theirs=$(timed curl -s --limit-rate 200k -o /dev/null "$base/2m.bin")
  echo "  download 2 MiB at 200k: lumaro ${ours} s ($(verdict "$ours" 9 11)), curl ${theirs} s"
  ours=$(timed "$fetch" --limit-rate 200k --data-binary "@$tmp/2m.bin" "$base/upload")
  theirs=$(timed curl -s --limit-rate 200k --data-binary "@$tmp/2m.bin" "$base/upload")
  echo "  upload 2 MiB at 200k: lumaro ${ours} s ($(verdict "$ours" 9 11)), curl ${theirs} s"
  ours=$(timed "$fetch" -Z --limit-rate 200k -o /dev/null -w 'TIME=%{time_total}\n' \
    "$base/1m.bin" "$base/1m.bin" -o "$tmp/parallel.out")
  each=$(grep -ao 'TIME=[0-9.]*' "$tmp/parallel.out" | sed 's/TIME=//' | tr '\n' ' ')
  theirs=$(timed curl -s --no-progress-meter -Z --limit-rate 200k -o /dev/null -o /dev/null \
    "$base/1m.bin" "$base/1m.bin")
  echo "  two 1 MiB downloads at once, one 200k limit: lumaro ${ours} s in all ($(verdict "$ours" 9 11)), each ended after: ${each}s; curl (a limit per transfer) ${theirs} s"
  ours=$(timed "$fetch" --limit-rate 100k -o /dev/null "$base/1m.bin")
  theirs=$(timed curl -s --limit-rate 100k -o /dev/null "$base/1m.bin")
  echo "  download 1 MiB at 100k: lumaro ${ours} s ($(verdict "$ours" 9 11)), curl ${theirs} s"
done
