#!/usr/bin/env bash
# Playback figures of the real program (GStreamer back end, channel plug-in registered, headless):
#   1. the time from "queue_song" on an empty queue to the first audio sample reaching the sink: the
#      sink is "wavenc ! filesink sync=true buffer-mode=unbuffered", and the time is taken when the
#      WAV file first holds more than its header. The first song of a run also starts GStreamer; the
#      later ones show the usual case.
#   2. the CPU the program uses while it plays a 320x240 MPEG-4/MP3 AVI with the default headless
#      sinks (sound device or its fake stand-in, video to a fake sink in real time).
# Figures only, never pass/fail. Usage: bench/playback_figures.sh [build-folder]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-build}"
bin="$root/$build/bin"
for f in Sinjo sinjo-settings sinjo-regsvr SinjoPlugin.so; do
  [ -e "$bin/$f" ] || { echo "missing $bin/$f: build first" >&2; exit 1; }
done
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home" "$work/index" "$work/mtv" "$work/bin"
cp "$bin/Sinjo" "$work/bin/" && cp -r "$bin/html" "$work/bin/"

# A 20-second clip like the demo collection's AVI files.
gst-launch-1.0 -q -e \
  videotestsrc num-buffers=500 ! video/x-raw,width=320,height=240,framerate=25/1 ! avenc_mpeg4 bitrate=200000 ! \
  avimux name=m ! filesink location="$work/mtv/clip.avi" \
  audiotestsrc num-buffers=862 ! audio/x-raw,rate=44100,channels=2 ! lamemp3enc ! mpegaudioparse ! m. >/dev/null
printf 'id,name,py,category,region\r\n1,Bench,b,1,1\r\n' > "$work/index/singer.csv"
printf 'no,title,a,b,artist,c,d,e,f,channel,g,h,i,path\r\n0,Clip,x,x,1,x,x,x,x,1,x,x,x,\\mtv\\clip.avi\r\n' \
  > "$work/index/Songs.csv"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
export SINJO_HOME="$work/home" SINJO_HEADLESS=1 SINJO_MEDIA_BACKEND=gstreamer
"$bin/sinjo-settings" "setting:MtvIndexDir=$work/index" "setting:MtvRootDir=$work/mtv" \
  "setting:WebServerPort=$port" >/dev/null
"$bin/sinjo-regsvr" "$bin/SinjoPlugin.so" >/dev/null

WORK="$work" PORT="$port" python3 - <<'EOF'
import os, subprocess, time, urllib.request, statistics

work, port = os.environ["WORK"], int(os.environ["PORT"])
wav = os.path.join(work, "out.wav")

def get(path):
    return urllib.request.urlopen(f"http://127.0.0.1:{port}{path}", timeout=10).read()

def start(env_extra):
    env = dict(os.environ, **env_extra)
    log = open(os.path.join(work, "log.txt"), "ab")
    p = subprocess.Popen([os.path.join(work, "bin", "Sinjo")], env=env, stdout=log, stderr=log)
    for _ in range(400):
        try:
            get("/queue_list"); return p
        except Exception:
            time.sleep(0.025)
    raise SystemExit("the program did not start")

def stop(p):
    p.terminate(); p.wait(10)

def header_end(data):
    at = data.find(b"data")
    return at + 8 if at >= 0 else None

# 1. queue_song to first sample
p = start({"SINJO_AUDIO_SINK": f"wavenc ! filesink sync=true buffer-mode=unbuffered location={wav}",
           "SINJO_VIDEO_SINK": "fakesink sync=true"})
times = []
for run in range(6):
    if os.path.exists(wav): os.remove(wav)
    t0 = time.monotonic()
    get("/control?act=queue_song&param=0")
    while True:
        if os.path.exists(wav):
            with open(wav, "rb") as f: data = f.read(4096)
            end = header_end(data)
            if end is not None and len(data) > end: break
        if time.monotonic() - t0 > 20: raise SystemExit("no sound reached the sink")
        time.sleep(0.0005)
    times.append((time.monotonic() - t0) * 1000)
    get("/control?act=jump&param=9999")   # end the song; the queue is empty again
    for _ in range(200):
        if b"<tr" not in get("/queue_list"): break
        time.sleep(0.01)
    time.sleep(0.2)
stop(p)
print(f"queue_song to first audio sample at the sink: first song {times[0]:.0f} ms (starts GStreamer), "
      f"later songs median {statistics.median(times[1:]):.0f} ms (min {min(times[1:]):.0f}, max {max(times[1:]):.0f})")

# 2. CPU while playing the AVI headless with the default sinks
p = start({})
get("/control?act=queue_song&param=0")
time.sleep(2.0)
hz = os.sysconf("SC_CLK_TCK")
def cpu():
    with open(f"/proc/{p.pid}/stat") as f: fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / hz
c0, w0 = cpu(), time.monotonic()
time.sleep(10.0)
c1, w1 = cpu(), time.monotonic()
playing = b"<tr" in get("/queue_list")
stop(p)
print(f"CPU while playing a 320x240 MPEG-4/MP3 AVI headless: {100 * (c1 - c0) / (w1 - w0):.1f} % of one core "
      f"over {w1 - w0:.1f} s ({'still playing' if playing else 'the song ended early'}; {os.cpu_count()} cores)")
EOF
