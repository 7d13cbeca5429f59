#!/usr/bin/env bash
# Figures of the player window (CPU per demo format with the picture shown, song start to first frame)
# on a virtual display.
#   scripts/bench-playerwindow.sh [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
command -v Xvfb >/dev/null && command -v openbox >/dev/null ||
  { echo "bench-playerwindow: needs Xvfb and openbox (scripts/packages.txt)"; exit 0; }
exec bash bench/player_window_figures.sh "$build"
