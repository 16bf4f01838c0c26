#!/usr/bin/env bash
# Takes docs/window.png: the real window on an X server (Xvfb), with the fonts the program loads.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/dev}
cmake --build "$build" --target mbxvane-screenshot
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
  "$build/tests/gui/mbxvane-screenshot" docs/window.png
echo "wrote docs/window.png"
