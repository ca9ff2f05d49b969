#!/usr/bin/env bash
# Full-resolution export of a 24-megapixel JPEG to JPEG: lumaro-render --export
# against `vips colourspace IN OUT b-w` on the same file, run alternately.
# Prints each pair, the median time ratio (lumaro / vips) and lumaro's peak
# memory in bytes per pixel. Both write at JPEG quality 75 (vips's default),
# so the encoders do the same work. RUNS=n sets the number of pairs (default 7).
set -euo pipefail
cd "$(dirname "$0")/.."
render=build/bin/lumaro-render
runs=${RUNS:-7}
source bench/require.sh
require export-vs-vips "$render" vips /usr/bin/time

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# A camera-sized picture made from a sample photo: 6000 x 4003 pixels.
vips resize samples/rocket.jpg "$tmp/in.jpg[Q=92]" 9.375
pixels=$(( $(vipsheader -f width "$tmp/in.jpg") * $(vipsheader -f height "$tmp/in.jpg") ))

# Runs a command under /usr/bin/time -v; prints "seconds peak-kilobytes".
timed() {
  local start end
  start=$(date +%s%N)
  /usr/bin/time -v -o "$tmp/time.txt" "$@" >/dev/null
  end=$(date +%s%N)
  local peak
  peak=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$tmp/time.txt")
  echo "$(( (end - start) / 1000000 )) $peak"
}

ratios=()
peaks=()
printf '%-5s %12s %12s %8s %14s\n' run "lumaro ms" "vips ms" ratio "lumaro B/px"
for i in $(seq "$runs"); do
  read -r vips_ms _ < <(timed vips colourspace "$tmp/in.jpg" "$tmp/vips.jpg" b-w)
  read -r lumaro_ms lumaro_kb < <(timed "$render" "$tmp/in.jpg" -o "$tmp/lumaro.jpg" --export --quality 75)
  ratio=$(awk -v a="$lumaro_ms" -v b="$vips_ms" 'BEGIN {printf "%.3f", a / b}')
  bpp=$(awk -v k="$lumaro_kb" -v p="$pixels" 'BEGIN {printf "%.2f", k * 1024 / p}')
  ratios+=("$ratio")
  peaks+=("$bpp")
  printf '%-5s %12s %12s %8s %14s\n' "$i" "$lumaro_ms" "$vips_ms" "$ratio" "$bpp"
done
median=$(printf '%s\n' "${ratios[@]}" | sort -g | awk '{a[NR] = $1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}')
peak=$(printf '%s\n' "${peaks[@]}" | sort -g | tail -1)
echo "median ratio lumaro/vips: $median (target at most 2.0)"
echo "peak memory of the export: $peak bytes per pixel (target at most 16)"
