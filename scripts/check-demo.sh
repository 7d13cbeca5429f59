#!/usr/bin/env bash
# Checks the bundled demo collection (or the one in the folder given as the first argument):
#   - the two index files are code page 936 text with CRLF line ends, every song line has at least 14
#     fields, names a known artist id, and a path starting "\mtv\" whose file exists under mtv/;
#   - every media file under mtv/ and user/ is recognised by gst-discoverer-1.0 as 44.1 or 48 kHz
#     stereo (with a video stream for the video formats), decodes to the end without an error, and
#     its video runs about as long as its audio;
#   - the accompaniment is on the side the index says (channel flag 1: left, else right; user files:
#     left), found as the channel that already sounds in the first 0.3 s while the voice is still silent;
#   - the whole folder stays under 4 MB.
# Not part of `make test`; run it after changing scripts/make-demo.sh.
#
# Debian packages: gstreamer1.0-tools gstreamer1.0-plugins-base-apps (gst-discoverer-1.0) sox libc-bin,
# and the GStreamer plug-ins of the set-up script.
set -uo pipefail
export LC_ALL=C.UTF-8

DEMO=${1:-"$(cd "$(dirname "$0")/.." && pwd)/demo"}
DEMO=$(cd "$DEMO" 2>/dev/null && pwd) || { echo "check-demo: no folder $1" >&2; exit 2; }
for tool in gst-discoverer-1.0 gst-launch-1.0 sox soxi iconv; do
  command -v "$tool" >/dev/null || { echo "check-demo: $tool is missing" >&2; exit 2; }
done

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

# uri_of PATH: a file:// URI for an absolute path, every byte outside the unreserved set percent-encoded.
uri_of() {
  local LC_ALL=C s=$1 out='' c h i
  for ((i = 0; i < ${#s}; i++)); do
    c=${s:i:1}
    case $c in
      [a-zA-Z0-9/._~-]) out+=$c ;;
      *) printf -v h '%%%02X' "'$c"; out+=$h ;;
    esac
  done
  printf 'file://%s\n' "$out"
}

# ---------------------------------------------------------------------------------------------------------
# Index files
# ---------------------------------------------------------------------------------------------------------

# index_text FILE OUT: writes the file to OUT as UTF-8 without carriage returns; fails when it is missing
# or not valid code page 936, and reports lines that do not end in CRLF.
index_text() {
  local f=$1 out=$2
  if [ ! -f "$f" ]; then fail "${f#"$DEMO"/}: missing"; return 1; fi
  if ! iconv -f GBK -t UTF-8 "$f" >"$WORK/index.txt" 2>/dev/null; then
    fail "${f#"$DEMO"/}: not valid code page 936 text"; return 1
  fi
  if grep -qv $'\r$' "$f"; then
    fail "${f#"$DEMO"/}: a line does not end in CRLF"
  fi
  tr -d '\r' <"$WORK/index.txt" >"$out"
}

# Fields are split at runs of "," and '"', as the loader does; awk's $1 is the loader's field 0.
SPLIT='{ sub(/^[,"]+/, ""); $0 = $0 }'

declare -A EXPECT_SIDE   # media file -> L or R, where its accompaniment must be
declare -A KNOWN_ARTIST

if index_text "$DEMO/mtvindex/singer.csv" "$WORK/singers.txt"; then
  while IFS=$'\t' read -r id nf; do
    if [ "$nf" -lt 5 ]; then fail "singer.csv: artist $id has only $nf fields"; fi
    KNOWN_ARTIST[$id]=1
  done < <(awk -F'[,"]+' "$SPLIT"' $1 + 0 >= 1 { print $1 + 0 "\t" NF }' "$WORK/singers.txt")
  [ ${#KNOWN_ARTIST[@]} -gt 0 ] || fail "singer.csv: no artist"
fi

if index_text "$DEMO/mtvindex/Songs.csv" "$WORK/songs.txt"; then
  count=0
  while IFS=$'\t' read -r line nf aid flag path; do
    count=$((count + 1))
    if [ "$nf" -lt 15 ]; then
      # The line end belongs to the last field, so the path must not be that field.
      fail "Songs.csv line $line: $nf fields, the path needs a field after it"; continue
    fi
    [ -n "${KNOWN_ARTIST[$aid]:-}" ] || fail "Songs.csv line $line: artist id $aid is not in singer.csv"
    case $path in
      '\mtv\'*) ;;
      *) fail "Songs.csv line $line: path $path does not start with \\mtv\\"; continue ;;
    esac
    rel=${path#'\mtv\'}
    file="$DEMO/mtv/${rel//\\//}"
    if [ ! -f "$file" ]; then fail "Songs.csv line $line: $file does not exist"; continue; fi
    if [ "$flag" = 1 ]; then EXPECT_SIDE[$file]=L; else EXPECT_SIDE[$file]=R; fi
  done < <(awk -F'[,"]+' "$SPLIT"' NR > 1 { print NR "\t" NF "\t" $5 + 0 "\t" $10 + 0 "\t" $14 }' "$WORK/songs.txt")
  [ "$count" -gt 0 ] || fail "Songs.csv: no song"
  echo "index: ${#KNOWN_ARTIST[@]} artists, $count songs"
fi

# ---------------------------------------------------------------------------------------------------------
# Media files
# ---------------------------------------------------------------------------------------------------------

# rms WAV CHANNEL: RMS amplitude of one channel between 0.05 s and 0.35 s.
rms() { sox "$1" -n remix "$2" trim 0.05 0.3 stat 2>&1 | awk '/^RMS +amplitude/ { print $3 }'; }

check_media() {
  local file=$1 side=$2 name=${1#"$DEMO"/} ext uri info adur vend left right
  ext=${file##*.}; ext=${ext,,}
  uri=$(uri_of "$file")

  if ! info=$(gst-discoverer-1.0 "$uri" 2>&1) || ! grep -q "audio #" <<<"$info"; then
    local why
    why=$(grep -m1 -iE 'error|missing|not' <<<"$info")
    fail "$name: not recognised as audio${why:+: $why}"; return
  fi
  grep -q "Channels: 2" <<<"$info" || { fail "$name: audio is not stereo"; return; }
  grep -qE "Sample rate: (44100|48000)" <<<"$info" || { fail "$name: audio is not 44.1 or 48 kHz"; return; }
  local video=0
  case $ext in avi|dat|wmv|rmvb) video=1 ;; esac
  if [ $video = 1 ] && ! grep -q "video #" <<<"$info"; then fail "$name: no video stream"; return; fi

  # Decode everything: the audio into a WAV file, the video through an identity that reports each frame.
  rm -f "$WORK/audio.wav"
  if ! gst-launch-1.0 -v playbin uri="$uri" \
      video-sink="identity name=frames silent=false ! fakesink sync=false" \
      audio-sink="audioconvert ! audio/x-raw,format=S16LE ! wavenc ! filesink location=$WORK/audio.wav" \
      >"$WORK/decode.log" 2>&1; then
    fail "$name: decoding failed: $(grep -m1 ERROR "$WORK/decode.log")"; return
  fi
  adur=$(soxi -D "$WORK/audio.wav" 2>/dev/null) || { fail "$name: no audio decoded"; return; }
  if awk -v d="$adur" 'BEGIN { exit !(d < 2) }'; then fail "$name: only ${adur}s of audio"; return; fi
  if [ $video = 1 ]; then
    # End of the last decoded frame, in seconds.
    vend=$(grep -o 'frames: last-message = chain .*pts: [0-9:.]*' "$WORK/decode.log" |
           sed 's/.*pts: //' | awk -F: '{ t = $1 * 3600 + $2 * 60 + $3; if (t > m) m = t } END { print m + 0 }')
    if [ "$vend" = 0 ]; then fail "$name: no video frame decoded"; return; fi
    if awk -v v="$vend" -v a="$adur" 'BEGIN { exit !(v < a - 1) }'; then
      fail "$name: video ends at ${vend}s but audio lasts ${adur}s"; return
    fi
  fi

  left=$(rms "$WORK/audio.wav" 1); right=$(rms "$WORK/audio.wav" 2)
  local found
  found=$(awk -v l="$left" -v r="$right" 'BEGIN { if (l > 8 * r) print "L"; else if (r > 8 * l) print "R"; else print "?" }')
  if [ "$found" != "$side" ]; then
    fail "$name: accompaniment expected on $side, found $found (RMS left $left, right $right)"; return
  fi
  echo "ok   $name (${adur}s, accompaniment $side)"
}

media=0
while IFS= read -r -d '' file; do
  media=$((media + 1))
  case $file in
    "$DEMO/mtv/"*)
      side=${EXPECT_SIDE[$file]:-}
      if [ -z "$side" ]; then fail "${file#"$DEMO"/}: no line of Songs.csv names it"; continue; fi ;;
    *) side=L ;;
  esac
  check_media "$file" "$side"
done < <(find "$DEMO/mtv" "$DEMO/user" -type f \( -iname '*.mp3' -o -iname '*.avi' -o -iname '*.dat' \
           -o -iname '*.wmv' -o -iname '*.wma' -o -iname '*.rmvb' \) -print0 | sort -z)
[ "$media" -gt 0 ] || fail "no media files under $DEMO"

size_kb=$(du -sk "$DEMO" | cut -f1)
[ "$size_kb" -le 4096 ] || fail "demo is ${size_kb} KB, over 4 MB"

echo "check-demo: $media media files, ${size_kb} KB, $failures failure(s)"
[ "$failures" -eq 0 ]
