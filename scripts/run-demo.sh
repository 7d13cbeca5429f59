#!/usr/bin/env bash
# Starts the jukebox on the bundled demo collection, with a profile folder inside the build folder so
# that nothing in the source tree or in the user's own settings changes. Ctrl+C stops it.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
root="$(pwd)"
export SINJO_HOME="${SINJO_HOME:-$root/$build/demo-profile}"
mkdir -p "$SINJO_HOME"
port="${SINJO_PORT:-8080}"

# Point the settings at the demo collection (the program reads these at start-up and keeps any other
# setting the user changed in an earlier run).
"$root/$build/bin/sinjo-settings" \
  "setting:MtvIndexDir=$root/demo/mtvindex" \
  "setting:MtvRootDir=$root/demo/mtv" \
  "setting:NaduMtvRootDir=$root/demo/nadumtv" \
  "setting:UserMtvRootDir=$root/demo/user" \
  "setting:WebServerPort=$port"

# Register the channel-selecting plug-in, so the player's audio path loads it.
if [ -x "$root/$build/bin/sinjo-regsvr" ] && [ -f "$root/$build/bin/SinjoPlugin.so" ]; then
  "$root/$build/bin/sinjo-regsvr" "$root/$build/bin/SinjoPlugin.so" >/dev/null || \
    echo "Warning: the channel plug-in could not be registered; songs play with both channels." >&2
fi

echo "Profile folder: $SINJO_HOME"
echo "Open http://localhost:$port/ on a phone or browser in this network. Ctrl+C stops the jukebox."
exec "$root/$build/bin/Sinjo"
