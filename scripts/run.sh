#!/usr/bin/env bash
# Starts Lumaro, or says in one line what to do when there is no display.
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} && -z ${QT_QPA_PLATFORM:-} ]]; then
  echo "lumaro: no display found; run with QT_QPA_PLATFORM=offscreen make run, or under xvfb-run (xvfb-run make run)" >&2
  exit 1
fi
exec build/bin/lumaro "$@"
