#!/usr/bin/env bash
# Figures of the player window on a desktop (a virtual X display with a window manager):
#   1. the CPU the program uses (in % of one core) while it plays each format of the demo collection
#      with the picture shown inside the player window (gtksink);
#   2. the time from a song's start to its first frame on screen: a clip whose every frame is one
#      colour is queued on an empty queue, and the middle of the player window is read from the X
#      server every millisecond until it has that colour. Given from the "queue_song" request and from
#      the first audio sample at the sink (the song's start as a listener hears it).
# Figures only, never pass/fail. Usage: bench/player_window_figures.sh [build-folder]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-build}"
bin="$root/$build/bin"
for f in Sinjo sinjo-settings; do
  [ -e "$bin/$f" ] || { echo "missing $bin/$f: build first" >&2; exit 1; }
done
if [ -z "${SINJO_FIGURES_ON_DISPLAY:-}" ]; then
  SINJO_FIGURES_ON_DISPLAY=1 exec "$root/tests/support/with-display.sh" --wm -- "$0" "$@"
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home" "$work/index" "$work/mtv" "$work/bin"
cp "$bin/Sinjo" "$work/bin/" && cp -r "$bin/html" "$work/bin/"

# One song per format of the demo collection, its index folder and its user folder (the first file of each
# extension), and a red clip.
n=0
printf 'id,name,py,category,region\r\n1,Bench,b,1,1\r\n' > "$work/index/singer.csv"
printf 'no,title,a,b,artist,c,d,e,f,channel,g,h,i,path\r\n' > "$work/index/Songs.csv"
: > "$work/formats.txt"
while IFS= read -r ext; do
  file=$(find "$root/demo/mtv" "$root/demo/user" -type f -iname "*.$ext" | sort | head -n1)
  cp "$file" "$work/mtv/song$n.$ext"
  printf '%d,S%d,x,x,1,x,x,x,x,1,x,x,x,\\mtv\\song%d.%s\r\n' "$n" "$n" "$n" "$ext" >> "$work/index/Songs.csv"
  echo "$n $ext" >> "$work/formats.txt"
  n=$((n + 1))
done < <(find "$root/demo/mtv" "$root/demo/user" -type f | sed 's/.*\.//' | tr 'A-Z' 'a-z' | sort -u)
gst-launch-1.0 -q -e \
  videotestsrc pattern=solid-color foreground-color=0xffff0000 num-buffers=100 ! \
  video/x-raw,width=320,height=240,framerate=25/1 ! avenc_mpeg4 ! avimux name=m ! filesink location="$work/mtv/red.avi" \
  audiotestsrc num-buffers=172 ! audio/x-raw,rate=44100,channels=2 ! lamemp3enc ! mpegaudioparse ! m. >/dev/null
printf '%d,Red,x,x,1,x,x,x,x,1,x,x,x,\\mtv\\red.avi\r\n' "$n" >> "$work/index/Songs.csv"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
export SINJO_HOME="$work/home" SINJO_HEADLESS=0 SINJO_MEDIA_BACKEND=gstreamer SINJO_CAPTURE=
"$bin/sinjo-settings" "setting:MtvIndexDir=$work/index" "setting:MtvRootDir=$work/mtv" \
  "setting:WebServerPort=$port" >/dev/null

WORK="$work" PORT="$port" RED="$n" python3 - <<'PYEOF'
import ctypes, os, statistics, subprocess, time, urllib.request

work, port, red = os.environ["WORK"], int(os.environ["PORT"]), int(os.environ["RED"])
wav = os.path.join(work, "out.wav")
formats = [line.split() for line in open(os.path.join(work, "formats.txt"))]

def get(path):
    return urllib.request.urlopen(f"http://127.0.0.1:{port}{path}", timeout=10).read()

def start():
    env = dict(os.environ, SINJO_AUDIO_SINK=f"wavenc ! filesink sync=true buffer-mode=unbuffered location={wav}")
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

def queue_empty():
    return b"<tr" not in get("/queue_list")

def wait_empty(limit=30):
    t = time.monotonic()
    while not queue_empty() and time.monotonic() - t < limit: time.sleep(0.02)

def player_window(pid):
    for _ in range(400):
        out = subprocess.run(["xdotool", "search", "--all", "--onlyvisible", "--pid", str(pid), "--name", "^Sinjobox$"],
                             capture_output=True, text=True).stdout.split()
        for xid in out:
            role = subprocess.run(["xprop", "-id", xid, "WM_WINDOW_ROLE"], capture_output=True, text=True).stdout
            if '"player-window"' in role: return int(xid)
        time.sleep(0.025)
    raise SystemExit("no player window")

def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f: fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

def wav_has_sound():
    try:
        with open(wav, "rb") as f: data = f.read(4096)
    except OSError:
        return False
    at = data.find(b"data")
    return at >= 0 and len(data) > at + 8

# 1. CPU per format, 8 s of each, picture in the window. The demo songs last about 4 s, so each is queued
# four times in a row: the measure covers playing (and the change from one song to the next), not idling.
p = start()
print(f"CPU while playing with the picture in the player window (virtual display, {os.cpu_count()} cores):")
for no, ext in formats:
    get(f"/control?act=queue_song&param={no},{no},{no},{no}")
    time.sleep(1.5)
    c0, w0 = cpu_seconds(p.pid), time.monotonic()
    time.sleep(8.0)
    c1, w1 = cpu_seconds(p.pid), time.monotonic()
    playing = not queue_empty()
    print(f"  {ext:4s}: {100 * (c1 - c0) / (w1 - w0):5.1f} % of one core over {w1 - w0:.1f} s"
          f"{'' if playing else ' (the song ended before the end of the measure)'}")
    get("/control?act=jump&param=9999")
    wait_empty()
    time.sleep(0.3)

# 2. Song start to first frame: the middle of the window read straight from the X server.
x11 = ctypes.CDLL("libX11.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XGetImage.restype = ctypes.c_void_p
x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint, ctypes.c_uint,
                          ctypes.c_ulong, ctypes.c_int]
x11.XGetPixel.restype = ctypes.c_ulong
x11.XGetPixel.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
x11.XDestroyImage.argtypes = [ctypes.c_void_p]

class Attributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int), ("height", ctypes.c_int),
                ("rest", ctypes.c_byte * 256)]
x11.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(Attributes)]
display = x11.XOpenDisplay(None)
xid = player_window(p.pid)
ZPixmap, AllPlanes = 2, 0xFFFFFFFF

def middle_is_red():
    a = Attributes()
    x11.XGetWindowAttributes(display, xid, ctypes.byref(a))
    image = x11.XGetImage(display, xid, a.width // 2, (a.height - 54) // 2, 1, 1, AllPlanes, ZPixmap)
    if not image: return False
    pixel = x11.XGetPixel(image, 0, 0)
    x11.XDestroyImage(image)
    r, g, b = (pixel >> 16) & 255, (pixel >> 8) & 255, pixel & 255
    return r > 200 and g < 60 and b < 60

from_request, from_sound = [], []
for run in range(6):
    if os.path.exists(wav): os.remove(wav)
    t0 = time.monotonic()
    get(f"/control?act=queue_song&param={red}")
    sound = frame = None
    while (sound is None or frame is None) and time.monotonic() - t0 < 20:
        now = time.monotonic()
        if sound is None and wav_has_sound(): sound = now
        if frame is None and middle_is_red(): frame = now
        time.sleep(0.001)
    if frame is None or sound is None:
        print(f"  run {run}: no {'frame' if frame is None else 'sound'} within 20 s"); continue
    from_request.append((frame - t0) * 1000)
    from_sound.append((frame - sound) * 1000)
    get("/control?act=jump&param=9999")
    wait_empty()
    time.sleep(0.5)
stop(p)
if from_request:
    print(f"first frame on screen after queue_song: first song {from_request[0]:.0f} ms, later songs median "
          f"{statistics.median(from_request[1:] or from_request):.0f} ms (min {min(from_request):.0f}, max {max(from_request):.0f})")
    print(f"first frame on screen after the first audio sample at the sink: median {statistics.median(from_sound):.0f} ms "
          f"(min {min(from_sound):.0f}, max {max(from_sound):.0f}; negative: the picture came first)")
PYEOF
