#!/usr/bin/env bash
# Starts Lumaro. Until the application is built, renders a sample picture with
# the batch renderer instead and says where the result is.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/bin

if [[ -x $bin/lumaro ]]; then
  if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} && -z ${QT_QPA_PLATFORM:-} ]]; then
    echo "lumaro: no display found; run with QT_QPA_PLATFORM=offscreen or under xvfb-run (xvfb-run make run)" >&2
    exit 1
  fi
  exec "$bin/lumaro" "$@"
fi

out=build/lumaro-sample.jpg
"$bin/lumaro-render" samples/rocket.jpg -o "$out" --export --tone sepia --vignette 1
echo "Rendered samples/rocket.jpg in sepia to $out"
