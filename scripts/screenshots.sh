#!/usr/bin/env bash
# Retakes the README's screenshots of the window at scale factors 1 and 2 on
# the offscreen platform, on a screen tall enough for the whole window.
set -euo pipefail
cd "$(dirname "$0")/.."
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
platform="offscreen:configfile=$PWD/tests/app/tall-screen.json"
for scale in 1 2; do
  # The top left of the window: toolbar icons, an ornament and the picture's corner.
  LUMARO_HOME=$home LUMARO_LIBRARY=$home QT_QPA_PLATFORM=$platform QT_SCALE_FACTOR=$scale \
    build/bin/lumaro-screenshots samples/hubble_deep_field.jpg "docs/scale$scale.png" 0 0 384 288
done
ls -l docs/scale1.png docs/scale2.png
