#!/usr/bin/env bash
# Builds the bundled demo collection under demo/: the two index files (demo/mtvindex), the karaoke clips
# they name (demo/mtv) and a small user folder for the directory scan (demo/user).
#
# Debian packages it needs:
#   sox espeak-ng libc-bin (iconv) fonts-droid-fallback (CJK glyphs for the titles drawn on the video)
#   gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
#   gstreamer1.0-plugins-ugly gstreamer1.0-libav
#
# Usage: scripts/make-demo.sh            (rewrites demo/mtv, demo/mtvindex and demo/user; keeps demo/README.md)
#
# Every clip is DUR seconds long. Its audio is 44.1 kHz stereo: one channel holds the accompaniment (a plucked
# melody over a quiet drone, sounding from the first sample on), the other a synthesised voice that reads the
# title and artist, starting after VOICE_DELAY seconds of silence. A song with channel flag 1 in Songs.csv
# has the accompaniment on the left, any other flag on the right. User-folder files have no flag (their
# audio type is unknown and treated like flag 1), so their accompaniment is on the left as well.
# The leading silence on the voice side is what scripts/check-demo.sh uses to tell the two channels apart.
#
# Output is repeatable: sox runs with -R, the melodies and patterns come from the song's position in the
# tables below, and no step uses the clock or random numbers.
set -euo pipefail
export LC_ALL=C.UTF-8

cd "$(dirname "$0")/.."
ROOT=$PWD
DEMO=$ROOT/demo
DUR=4
VOICE_DELAY=0.5
FPS=25
WIDTH=320
HEIGHT=240
FONT="Droid Sans Fallback"

for tool in sox espeak-ng gst-launch-1.0 iconv; do
  command -v "$tool" >/dev/null || { echo "make-demo: $tool is missing (see the package list at the top)" >&2; exit 1; }
done

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# ---------------------------------------------------------------------------------------------------------
# Tables
# ---------------------------------------------------------------------------------------------------------

# Artists: id|name|pinyin initials|category (1 male, 2 female, 3 band)|region (1 mainland, 2 hk/tw, 3 foreign)
# 齐秦 has no song and disappears when the catalogue loads.
ARTISTS=$(cat <<'EOF'
1|周华健|ZHJ|1|2
2|张学友|ZXY|1|2
3|王菲|WF|2|1
4|邓丽君|DLJ|2|2
5|Beyond|BEYOND|3|2
6|刀郎|DL|1|1
7|那英|NY|2|1
8|黑豹乐队|HBYD|3|1
9|ABBA|ABBA|3|3
10|Celine Dion|CD|2|3
11|Elvis Presley|EP|1|3
12|齐秦|QQ|1|2
EOF
)

# Indexed songs: title|pinyin initials|artist id|channel flag|language|path below the music-video root
# The container follows the extension: mp3 audio only; avi MPEG-4 part 2 + MP3; dat MPEG-1 video + layer 2
# audio in an MPEG program stream (as on a video CD); wmv WMV2 + WMA2 in ASF.
# "Love Me Tender.MP3" keeps a capital extension on disk on purpose.
SONGS=$(cat <<'EOF'
朋友|PY|1|1|国语|周华健\朋友.avi
花心|HX|1|0|国语|周华健\花心.dat
让我欢喜让我忧|RWHXRWY|1|1|国语|周华健\让我欢喜让我忧.mp3
吻别|WB|2|2|国语|张学友\吻别.avi
一路上有你|YLSYN|2|1|国语|张学友\一路上有你.dat
红豆|HD|3|1|国语|王菲\红豆.wmv
容易受伤的女人|RYSSDNR|3|0|粤语|王菲\容易受伤的女人.avi
月亮代表我的心|YLDBWDX|4|1|国语|邓丽君\月亮代表我的心.dat
甜蜜蜜|TMM|4|2|国语|邓丽君\甜蜜蜜.mp3
光辉岁月|GHSY|5|1|粤语|Beyond\光辉岁月.avi
真的爱你|ZDAN|5|0|粤语|Beyond\真的爱你.wmv
2002年的第一场雪|2002NDDYCX|6|1|国语|刀郎\2002年的第一场雪.dat
征服|ZF|7|0|国语|那英\征服.avi
雾里看花|WLKH|7|1|国语|那英\雾里看花.mp3
无地自容|WDZR|8|1|国语|黑豹乐队\无地自容.wmv
Dancing Queen|DQ|9|0|英语|ABBA\Dancing Queen.avi
Mamma Mia|MM|9|1|英语|ABBA\Mamma Mia.dat
My Heart Will Go On|MHWGO|10|0|英语|Celine Dion\My Heart Will Go On.wmv
The Power of Love|TPOL|10|1|英语|Celine Dion\The Power of Love.mp3
Love Me Tender|LMT|11|2|英语|Elvis Presley\Love Me Tender.MP3
EOF
)

# User folder, laid out for the directory scan: path below demo/user|title|artist (both only for the voice
# and the picture; the catalogue derives them from the names). "Misc/小夜曲.mp3" has no artist part, so the
# folder name stands for the artist. The two duets name their artists with an ASCII and a fullwidth comma.
USER_FILES=$(cat <<'EOF'
Beyond-海阔天空/海阔天空.mp3|海阔天空|Beyond
Beyond-海阔天空/不再犹豫.wma|不再犹豫|Beyond
Misc/许巍-蓝莲花.mp3|蓝莲花|许巍
Misc/Sarah Brightman-Scarborough Fair.mp3|Scarborough Fair|Sarah Brightman
Misc/小夜曲.mp3|小夜曲|Misc
Duets/周华健,齐豫-天下有情人.mp3|天下有情人|周华健, 齐豫
Duets/那英，王菲-相约一九九八.avi|相约一九九八|那英, 王菲
EOF
)

# ---------------------------------------------------------------------------------------------------------
# Audio
# ---------------------------------------------------------------------------------------------------------

# Pentatonic scale (C D E G A over two octaves), in Hz; melodies walk it with a step that depends on the song.
SCALE=(261.63 293.66 329.63 392.00 440.00 523.25 587.33 659.25 783.99 880.00)

# make_accompaniment OUT SEED: a mono 44.1 kHz melody of DUR*4 plucked quarter-second notes over a drone.
make_accompaniment() {
  local out=$1 seed=$2
  local notes=$((DUR * 4)) step=$((seed % 4 + 1)) pos=$((seed % ${#SCALE[@]}))
  local args=() i
  for ((i = 0; i < notes; i++)); do
    [ "$i" -gt 0 ] && args+=(:)
    args+=(synth 0.25 pluck "${SCALE[$pos]}")
    pos=$(((pos + step + (i % 3 == 2 ? 2 : 0)) % ${#SCALE[@]}))
  done
  sox -R -n -r 44100 -c 1 -b 16 "$WORK/melody.wav" "${args[@]}"
  # The drone keeps the accompaniment audible between the notes: root and fifth an octave below the tune.
  sox -R -n -r 44100 -c 1 -b 16 "$WORK/drone.wav" synth "$DUR" sine 130.81 synth "$DUR" sine mix 196.00 gain -12
  sox -R -m "$WORK/melody.wav" "$WORK/drone.wav" "$out" trim 0 "$DUR" gain -n -3
}

# make_voice OUT TEXT: the text read by espeak-ng (Mandarin when it holds any non-ASCII character, else
# English), at 44.1 kHz mono, delayed by VOICE_DELAY and cut or padded to DUR seconds.
make_voice() {
  local out=$1 text=$2 voice=en-us
  if printf '%s' "$text" | LC_ALL=C grep -q '[^ -~]'; then voice=cmn; fi
  espeak-ng -v "$voice" -s 150 -w "$WORK/speech.wav" "$text"
  sox -R "$WORK/speech.wav" -r 44100 -c 1 -b 16 "$WORK/padded.wav" gain -n -3 pad "$VOICE_DELAY" "$DUR"
  sox -R "$WORK/padded.wav" "$out" trim 0 "$DUR"
}

# make_stereo OUT TITLE ARTIST FLAG SEED: accompaniment left and voice right for flag 1, else the reverse.
make_stereo() {
  local out=$1 title=$2 artist=$3 flag=$4 seed=$5 spoken
  make_accompaniment "$WORK/acc.wav" "$seed"
  if printf '%s' "$title$artist" | LC_ALL=C grep -q '[^ -~]'; then spoken="$title，$artist"; else spoken="$title, by $artist"; fi
  make_voice "$WORK/voice.wav" "$spoken"
  if [ "$flag" = 1 ]; then
    sox -R -M "$WORK/acc.wav" "$WORK/voice.wav" "$out"
  else
    sox -R -M "$WORK/voice.wav" "$WORK/acc.wav" "$out"
  fi
}

# ---------------------------------------------------------------------------------------------------------
# Video and containers
# ---------------------------------------------------------------------------------------------------------

PATTERNS=(ball smpte75 gradient bar pinwheel solid-color)
BACKGROUNDS=(0xff203060 0xff602030 0xff206030 0xff505020 0xff402060 0xff206060)

# Text for a gst-launch property: quotes and backslashes would end or escape the quoted value.
gst_text() { printf '%s' "$1" | tr -d '"\\'; }

# video_source TITLE ARTIST SEED: prints a gst-launch description of DUR seconds of test pattern with the
# title on top, the artist at the bottom and the running time in the middle.
video_source() {
  local title artist seed=$3 pattern bg
  title=$(gst_text "$1"); artist=$(gst_text "$2")
  pattern=${PATTERNS[$((seed % ${#PATTERNS[@]}))]}
  bg=${BACKGROUNDS[$((seed % ${#BACKGROUNDS[@]}))]}
  printf '%s' "videotestsrc pattern=$pattern background-color=$bg foreground-color=0xffe0e0e0 num-buffers=$((DUR * FPS))" \
    " ! video/x-raw,width=$WIDTH,height=$HEIGHT,framerate=$FPS/1" \
    " ! textoverlay text=\"$title\" font-desc=\"$FONT 26\" valignment=top halignment=center shaded-background=true" \
    " ! textoverlay text=\"$artist\" font-desc=\"$FONT 18\" valignment=bottom halignment=center shaded-background=true" \
    " ! timeoverlay font-desc=\"Sans Bold 16\" valignment=center halignment=center shaded-background=true ! videoconvert"
}

# encode KIND WAV OUT TITLE ARTIST SEED: writes OUT in the container and codecs of KIND.
# Two muxer quirks are worked around here. The libav video encoders stamp their output 1000 hours into
# a segment that starts there, and asfmux writes those raw times, so the video would lie past the end of
# the file: identity single-segment turns them back into running time. mpegpsmux loses the last half
# second of both streams, so program streams go through the libav MPEG-1 systems muxer instead.
encode() {
  local kind=$1 wav=$2 out=$3 title=$4 artist=$5 seed=$6 video audio pipeline
  video=$(video_source "$title" "$artist" "$seed")
  audio="filesrc location=\"$wav\" ! wavparse ! audioconvert ! audioresample"
  case $kind in
    mp3) pipeline="$audio ! lamemp3enc target=bitrate bitrate=80 cbr=true ! audio/mpeg,rate=44100 ! xingmux ! filesink location=\"$out\"" ;;
    wma) pipeline="$audio ! avenc_wmav2 bitrate=64000 ! asfmux ! filesink location=\"$out\"" ;;
    avi) pipeline="$video ! avenc_mpeg4 bitrate=200000 ! avimux name=mux ! filesink location=\"$out\""
         pipeline+=" $audio ! lamemp3enc target=bitrate bitrate=80 cbr=true ! audio/mpeg,rate=44100 ! mpegaudioparse ! mux." ;;
    dat) pipeline="$video ! mpeg2enc format=0 bitrate=200 ! mpegvideoparse ! avmux_mpeg name=mux ! filesink location=\"$out\""
         pipeline+=" $audio ! avenc_mp2 bitrate=96000 ! mpegaudioparse ! mux." ;;
    wmv) pipeline="$video ! avenc_wmv2 bitrate=200000 ! identity single-segment=true ! asfmux name=mux ! filesink location=\"$out\""
         pipeline+=" $audio ! avenc_wmav2 bitrate=64000 ! mux." ;;
    *) echo "make-demo: no recipe for .$kind" >&2; exit 1 ;;
  esac
  # eval turns the quoted property values into single words; gst-launch escapes their spaces again.
  eval "gst-launch-1.0 -q -e $pipeline" >"$WORK/gst.log" 2>&1 || { cat "$WORK/gst.log" >&2; exit 1; }
  [ -s "$out" ] || { echo "make-demo: $out came out empty" >&2; exit 1; }
}

# write_bytes FILE OFFSET HEX: overwrites bytes of FILE in place, HEX given as pairs of hex digits.
write_bytes() {
  local hex=$3 esc='' i
  for ((i = 0; i < ${#hex}; i += 2)); do esc+="\\x${hex:i:2}"; done
  printf '%b' "$esc" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

# fix_asf_ids FILE SEED: asfmux stamps each file with a random file id and the current time. Replace both
# with values made from SEED so that a re-run gives the same bytes. The file is a row of top-level objects,
# each a 16-byte GUID and a 64-bit little-endian size. The header object has 30 bytes of its own and then
# the file properties object (GUID, size, file id at 54, file size, creation time at 78); the data object
# and each simple index object repeat the file id after their GUID and size.
ASF_DATA=3626b2758e66cf11a6d900aa0062ce6c
ASF_SIMPLE_INDEX=90080033b1e5cf1189f400a0c90349cb
fix_asf_ids() {
  local file=$1 seed=$2 id t=134116992000000000 date='' i off size guid total
  id=$(printf 'sinjobox-demo-%d' "$seed" | md5sum | cut -c1-32)
  for ((i = 0; i < 8; i++)); do date+=$(printf '%02x' $(((t >> (8 * i)) & 255))); done
  write_bytes "$file" 54 "$id"
  write_bytes "$file" 78 "$date"
  total=$(stat -c %s "$file")
  off=$(od -An -tu8 -j16 -N8 --endian=little "$file" | tr -d ' ')
  while [ "$off" -lt "$total" ]; do
    guid=$(od -An -tx1 -j"$off" -N16 "$file" | tr -d ' \n')
    size=$(od -An -tu8 -j$((off + 16)) -N8 --endian=little "$file" | tr -d ' ')
    if [ -z "$size" ] || [ "$size" -lt 24 ]; then
      echo "make-demo: $file: damaged ASF object at $off" >&2; exit 1
    fi
    case $guid in "$ASF_DATA"|"$ASF_SIMPLE_INDEX") write_bytes "$file" $((off + 24)) "$id" ;; esac
    off=$((off + size))
  done
}

# make_clip TARGET TITLE ARTIST FLAG SEED: one finished media file at TARGET (a UTF-8 path).
make_clip() {
  local target=$1 title=$2 artist=$3 flag=$4 seed=$5 ext
  ext=${target##*.}; ext=${ext,,}
  make_stereo "$WORK/stereo.wav" "$title" "$artist" "$flag" "$seed"
  # Encode under a plain name: the pipeline text never has to carry the Chinese file name.
  encode "$ext" "$WORK/stereo.wav" "$WORK/out.$ext" "$title" "$artist" "$seed"
  case $ext in wmv|wma) fix_asf_ids "$WORK/out.$ext" "$seed" ;; esac
  mkdir -p "$(dirname "$target")"
  mv "$WORK/out.$ext" "$target"
  echo "  ${target#"$DEMO"/}"
}

# ---------------------------------------------------------------------------------------------------------
# Index files: written as UTF-8 with LF, then turned into code page 936 with CRLF line ends.
# Fields are split at every "," and '"' and runs count as one, so no column is ever left empty.
# ---------------------------------------------------------------------------------------------------------

to_index_file() {
  local src=$1 dst=$2
  iconv -f UTF-8 -t GBK "$src" | sed 's/$/\r/' >"$dst"
}

rm -rf "$DEMO/mtv" "$DEMO/mtvindex" "$DEMO/user"
mkdir -p "$DEMO/mtv" "$DEMO/mtvindex" "$DEMO/user"

declare -A ARTIST_NAME
{
  # A header line; the loader skips it because its first field is not an id.
  echo "编号,歌星,拼音,类别,地区,备注"
  while IFS='|' read -r id name py cat region; do
    ARTIST_NAME[$id]=$name
    echo "$id,$name,$py,$cat,$region,0"
  done <<<"$ARTISTS"
} >"$WORK/singer.csv"
to_index_file "$WORK/singer.csv" "$DEMO/mtvindex/singer.csv"

# Songs.csv columns: 0 number, 1 title, 2 pinyin, 3 characters, 4 artist id, 5 language, 6 genre, 7 kind,
# 8 version, 9 channel flag, 10 volume, 11 plays, 12 added, 13 path, 14 state. The path is not the last
# column so that the line end never becomes part of it.
{
  echo "编号,歌名,拼音,字数,歌星编号,语种,类别,类型,版本,声道,音量,点播,日期,路径,状态"
  n=0
  while IFS='|' read -r title py aid flag lang path; do
    n=$((n + 1))
    echo "$n,$title,$py,${#title},$aid,$lang,流行,MTV,1,$flag,80,0,2026-01-01,\\mtv\\$path,1"
  done <<<"$SONGS"
} >"$WORK/Songs.csv"
to_index_file "$WORK/Songs.csv" "$DEMO/mtvindex/Songs.csv"

echo "make-demo: indexed songs"
n=0
while IFS='|' read -r title py aid flag lang path; do
  make_clip "$DEMO/mtv/${path//\\//}" "$title" "${ARTIST_NAME[$aid]}" "$flag" "$n"
  n=$((n + 1))
done <<<"$SONGS"

echo "make-demo: user folder"
while IFS='|' read -r rel title artist; do
  make_clip "$DEMO/user/$rel" "$title" "$artist" 1 "$n"
  n=$((n + 1))
done <<<"$USER_FILES"

size_kb=$(du -sk "$DEMO" | cut -f1)
echo "make-demo: demo/ holds ${size_kb} KB"
if [ "$size_kb" -gt 4096 ]; then
  echo "make-demo: demo/ is over 4 MB" >&2
  exit 1
fi
