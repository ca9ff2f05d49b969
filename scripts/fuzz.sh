#!/usr/bin/env bash
# Runs each libFuzzer target for a minute (FUZZ_SECONDS overrides).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
for f in build-fuzz/bin/fuzz_*; do
  [[ -x $f ]] || continue
  name=$(basename "$f")
  corpus=build-fuzz/corpus/$name
  mkdir -p "$corpus"
  seeds=fuzz/corpus/${name#fuzz_}
  echo "== $name for ${seconds}s"
  "$f" -max_total_time="$seconds" "$corpus" $( [[ -d $seeds ]] && echo "$seeds" )
done
