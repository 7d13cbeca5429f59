#!/usr/bin/env bash
# Web server figures on a generated 100,000-song collection: requests per second and median and 99th
# percentile latency with 50 persistent connections (wrk), for the filled page with a 200-song list, a
# search page, "queue_list" and "update_control_status".
#
#   scripts/bench-web.sh [build folder] [seconds per URL]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
seconds="${2:-10}"
root="$(pwd)"
for tool in wrk; do
  command -v "$tool" >/dev/null || { echo "bench-web: $tool is missing (apt-get install $tool)" >&2; exit 1; }
done

work="$(mktemp -d /tmp/sinjo-bench-web.XXXXXX)"
cleanup() { [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

"$root/$build/bench/gen_collection" "$work/index" 100000 10000 >/dev/null
export SINJO_HOME="$work/home" SINJO_HEADLESS=1 SINJO_MEDIA_BACKEND=simulated
mkdir -p "$SINJO_HOME"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
"$root/$build/bin/sinjo-settings" "setting:MtvIndexDir=$work/index" "setting:MtvRootDir=$work/mtv" \
  "setting:WebServerPort=$port"
"$root/$build/bin/Sinjo" >"$work/sinjo.log" 2>&1 &
pid=$!
for _ in $(seq 1 200); do
  curl -s -o /dev/null "http://127.0.0.1:$port/update_control_status" 2>/dev/null && break
  sleep 0.05
done

# Queue a few songs so that the queue list has rows.
curl -s -o /dev/null "http://127.0.0.1:$port/control?act=queue_song&param=1,2,3,4,5,6,7,8,9,10"

printf "%-28s %12s %10s %10s\n" "target" "requests/s" "median" "p99"
run() {
  local name="$1" path="$2"
  local out
  out=$(wrk -t2 -c50 -d"${seconds}s" --latency "http://127.0.0.1:$port$path")
  local rps p50 p99
  rps=$(awk '/Requests\/sec/ {print $2}' <<<"$out")
  p50=$(awk '$1=="50%" {print $2}' <<<"$out")
  p99=$(awk '$1=="99%" {print $2}' <<<"$out")
  printf "%-28s %12s %10s %10s\n" "$name" "$rps" "$p50" "$p99"
}
# The song list page (200 songs), a search ("爱" in code page 936), and the two fragments.
run "page, 200 songs" "/"
run "search page" "/?q=%B0%AE"
run "queue_list" "/queue_list"
run "update_control_status" "/update_control_status"
