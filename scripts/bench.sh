#!/usr/bin/env bash
# Runs every benchmark program, then the side-by-side scripts in bench/.
set -euo pipefail
cd "$(dirname "$0")/.."
for b in build/bin/bench_*; do
  [[ -x $b ]] || continue
  echo "== $b"
  "$b"
done
for s in bench/*.sh; do
  [[ -x $s ]] || continue
  echo "== $s"
  "$s"
done
