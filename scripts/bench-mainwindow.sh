#!/usr/bin/env bash
# Figures of the main window (start to page shown, memory of the WebKit processes) on a virtual display.
#   scripts/bench-mainwindow.sh [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
command -v Xvfb >/dev/null && command -v openbox >/dev/null ||
  { echo "bench-mainwindow: needs Xvfb and openbox (scripts/packages.txt)"; exit 0; }
exec tests/support/with-display.sh --wm -- /usr/bin/python3 bench/mainwindow_figures.py "$build" "${RUNS:-3}"
