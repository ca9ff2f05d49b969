#!/usr/bin/env bash
# lumaro-fetch against curl on the same local server, run alternately:
#   - a 1 GiB file part uploaded with -F file=@big to a sink that reads every byte
#     (throughput ratio lumaro/curl; target at least 0.8; lumaro's peak resident memory;
#     target at most 64 MiB),
#   - 64 GETs of an endpoint that answers after DELAY seconds (default 1), with -Z and the
#     default of four at once (wall time against the ideal ceil(64 / 4) x DELAY; target
#     within 10%).
# RUNS=n sets the number of upload pairs (default 3). The 1 GiB file lives in a temporary
# directory that is removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
fetch=build/bin/lumaro-fetch
runs=${RUNS:-3}
delay=${DELAY:-1}
source bench/require.sh
require forms-vs-curl "$fetch" curl /usr/bin/python3 /usr/bin/time

tmp=$(mktemp -d)
port=$(( 20000 + RANDOM % 20000 ))
head -c 1073741824 /dev/urandom > "$tmp/big.bin"

# The sink: reads a request body to its last byte before it answers, in large pieces, so
# that it is never what limits an upload; and /delay/N answers after N seconds. One thread
# per connection.
cat > "$tmp/sink.py" <<'PY'
import sys, time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

class Sink(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    def log_message(self, *args):
        pass
    def answer(self, status, body=b""):
        self.send_response(status)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def do_POST(self):
        left = int(self.headers.get("Content-Length", "0"))
        piece = bytearray(4 << 20)
        view = memoryview(piece)
        while left > 0:
            got = self.rfile.readinto(view[:min(left, len(piece))])
            if not got:
                break
            left -= got
        self.answer(204)
    def do_GET(self):
        if self.path.startswith("/delay/"):
            time.sleep(float(self.path[7:]))
        self.answer(200, b"ok\n")

ThreadingHTTPServer.daemon_threads = True
ThreadingHTTPServer.request_queue_size = 128
ThreadingHTTPServer(("127.0.0.1", int(sys.argv[1])), Sink).serve_forever()
PY
/usr/bin/python3 "$tmp/sink.py" "$port" &
sink=$!
trap 'kill "$sink" 2>/dev/null; rm -rf "$tmp"' EXIT
for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$port/" && break; sleep 0.1; done
base=http://127.0.0.1:$port

# Runs a command; prints "milliseconds peak-kilobytes".
timed() {
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f "%M" -o "$tmp/time.txt" "$@" >/dev/null
  end=$(date +%s%N)
  echo "$(( (end - start) / 1000000 )) $(cat "$tmp/time.txt")"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

: > "$tmp/upload"
peak_kb=0
for i in $(seq "$runs"); do
  read -r ours ours_kb < <(timed "$fetch" -F "file=@$tmp/big.bin" "$base/upload")
  read -r theirs _ < <(timed curl -s -F "file=@$tmp/big.bin" "$base/upload")
  echo "upload 1 GiB with -F: lumaro ${ours} ms (${ours_kb} KB peak), curl ${theirs} ms"
  ratio "$theirs" "$ours" >> "$tmp/upload"; echo >> "$tmp/upload"
  (( ours_kb > peak_kb )) && peak_kb=$ours_kb
done

urls=$(for _ in $(seq 64); do printf "%s/delay/%s " "$base" "$delay"; done)
# shellcheck disable=SC2086
read -r ours _ < <(timed "$fetch" -Z $urls)
# shellcheck disable=SC2086
read -r theirs _ < <(timed curl -s --no-progress-meter -Z --parallel-max 4 $urls)
ideal=$(awk -v d="$delay" 'BEGIN { printf "%d", 16 * d * 1000 }')
echo "64 GETs of /delay/$delay with -Z (4 at once): lumaro ${ours} ms, curl ${theirs} ms, ideal ${ideal} ms"

echo "upload throughput ratio lumaro/curl (median): $(median < "$tmp/upload")  (target >= 0.8)"
echo "peak memory of the upload: ${peak_kb} KB  (target <= 65536 KB)"
echo "parallel wall time / ideal: $(ratio "$ours" "$ideal")  (target <= 1.10)"
