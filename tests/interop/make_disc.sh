#!/usr/bin/env bash
# Authors a small DVD-Video disc with dvdauthor into OUT (made fresh): two title sets, four
# titles, from ffmpeg-made MPEG-2, AC-3 and MP2 and spumux subtitles. Prints each title's clip,
# one per line ("title clip.mpg"), so that a test can compare a title with what went into it.
#   title set 1, NTSC 4:3, three titles one after the other in VTS_01_1.VOB:
#     title 1  4 s, chapters at 0 and 2 s;   title 2  3 s, chapters at 0, 1 and 2 s;
#     title 3  2 s, one chapter.
#     Audio: AC-3 English (0x80), AC-3 French commentary (0x81); subpictures: English (0x20),
#     German forced (0x21), each with two captions in title 2 only (English: the first forced).
#   title set 2, PAL 16:9: title 4, 3 s, chapters at 0 and 1.5 s; audio AC-3 German (0x80), MP2
#     English, visually impaired (0xC1), and 16-bit LPCM Italian (0xA2).
# ffmpeg's DVD muxer numbers each codec from its own base (AC-3 0x80, MPEG audio 0xC0, LPCM
# 0xA0), and a DVD numbers audio streams across codecs, so the MP2 stream is moved to 0xC1 and
# the LPCM stream to 0xA2 here.
# Usage: make_disc.sh OUT
set -euo pipefail
out=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$out"
mkdir -p "$out"

ff() { ffmpeg -nostdin -y -v error -fflags +bitexact -flags +bitexact "$@"; }

ntsc() {  # clip seconds colour-source
  ff -f lavfi -i "$3=size=720x480:rate=30000/1001" \
    -f lavfi -i "sine=frequency=440:sample_rate=48000" -t "$2" \
    -map 0:v -map 1:a -map 1:a -c:v mpeg2video -b:v 2M -g 15 -bf 2 -aspect 4:3 \
    -c:a ac3 -b:a 192k -ac 2 -f dvd "$work/$1"
}
ntsc t1.mpg 4 testsrc
ntsc t2raw.mpg 3 smptebars
ntsc t3.mpg 2 rgbtestsrc

# Title 4: AC-3, MP2 and LPCM, renumbered.
ff -f lavfi -i "testsrc2=size=720x576:rate=25" -f lavfi -i "sine=frequency=330:sample_rate=48000" \
  -t 3 -map 0:v -map 1:a -map 1:a -map 1:a -c:v mpeg2video -b:v 2M -g 12 -bf 2 -aspect 16:9 \
  -c:a:0 ac3 -b:a:0 192k -ac 2 -c:a:1 mp2 -b:a:1 192k -c:a:2 pcm_dvd -f dvd "$work/t4raw.mpg"
python3 - "$work/t4raw.mpg" "$work/t4.mpg" <<'PY'
import sys
data = bytearray(open(sys.argv[1], 'rb').read())
pack = 0
while pack + 14 <= len(data):
    if data[pack:pack + 4] != b'\x00\x00\x01\xba':
        raise SystemExit('not a pack at %d' % pack)
    at = pack + 14 + (data[pack + 13] & 7)
    end = pack + 2048
    while at + 6 <= end and data[at:at + 3] == b'\x00\x00\x01':
        if data[at + 3] == 0xC0:
            data[at + 3] = 0xC1
        if data[at + 3] == 0xBD:  # private stream 1: the sub-stream id behind the PES header
            sub = at + 9 + data[at + 8]
            if data[sub] == 0xA0:
                data[sub] = 0xA2
        at += 6 + (data[at + 4] << 8 | data[at + 5])
    pack = end
open(sys.argv[2], 'wb').write(data)
PY

# Two captions for each subpicture stream of title 2, made without any image tool.
python3 - "$work" <<'PY'
import struct, sys, zlib
def png(path, w, h, colour):
    rows = bytearray()
    for y in range(h):
        rows.append(0)
        for x in range(w):
            inside = 4 <= x < w - 4 and 4 <= y < h - 4
            rows += bytes(colour + (255,)) if inside else bytes(4)
    chunk = lambda t, d: struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d) & 0xffffffff)
    open(path, 'wb').write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 6, 0, 0, 0))
                           + chunk(b'IDAT', zlib.compress(bytes(rows), 9)) + chunk(b'IEND', b''))
png(sys.argv[1] + '/en.png', 200, 40, (255, 255, 255))
png(sys.argv[1] + '/de.png', 160, 30, (255, 255, 0))
PY
for lang in en de; do
  force=no
  [ $lang = en ] && force=yes  # English: a forced caption, then a normal one
  cat > "$work/$lang.xml" <<XML
<subpictures format="NTSC"><stream>
<spu start="00:00:00.30" end="00:00:01.00" image="$work/$lang.png" xoffset="100" yoffset="400" force="$force"/>
<spu start="00:00:01.50" end="00:00:02.50" image="$work/$lang.png" xoffset="120" yoffset="380"/>
</stream></subpictures>
XML
done
spumux -m dvd -s 0 "$work/en.xml" < "$work/t2raw.mpg" > "$work/t2sub.mpg" 2>/dev/null
spumux -m dvd -s 1 "$work/de.xml" < "$work/t2sub.mpg" > "$work/t2.mpg" 2>/dev/null

# spumux's colours, in every program chain: dvdauthor stops with "color map full" otherwise.
cat > "$work/disc.xml" <<XML
<dvdauthor dest="$out">
<vmgm/>
<titleset><titles>
<video format="ntsc" aspect="4:3"/>
<audio lang="en"/><audio lang="fr" content="comments1"/>
<subpicture lang="en"/><subpicture lang="de" content="forced"/>
<pgc><vob file="$work/t1.mpg" chapters="0,0:02"/></pgc>
<pgc><vob file="$work/t2.mpg" chapters="0,0:01,0:02"/></pgc>
<pgc><vob file="$work/t3.mpg"/></pgc>
</titles></titleset>
<titleset><titles>
<video format="pal" aspect="16:9"/>
<audio lang="de"/><audio lang="en" content="impaired"/><audio lang="it"/>
<pgc><vob file="$work/t4.mpg" chapters="0,0:01.5"/></pgc>
</titles></titleset>
</dvdauthor>
XML
VIDEO_FORMAT=NTSC dvdauthor -x "$work/disc.xml" >"$work/dvdauthor.log" 2>&1 ||
  { cat "$work/dvdauthor.log" >&2; exit 1; }
mkdir -p "$out/clips"
for n in 1 2 3 4; do cp "$work/t$n.mpg" "$out/clips/"; echo "$n $out/clips/t$n.mpg"; done
