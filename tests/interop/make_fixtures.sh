#!/usr/bin/env bash
# Makes the small program streams of tests/interop/fixtures with ffmpeg's DVD muxer and
# dvdauthor's spumux, from lavfi test sources. The outputs are committed, so the tests run
# without these tools; run this again only to change them.
#   mix.VOB  NTSC MPEG-2 (0xE0), AC-3 5.1 (0x80), DTS 5.1 (0x88), two 16-bit LPCM (0xA0, 0xA1),
#            MP2 (0xC0), two subpicture streams (0x20, 0x21)
#   pal.VOB  PAL MPEG-2, two AC-3 (0x80, 0x81), 6-channel LPCM (0xA0)
#   avc.VOB  H.264 (0xE2), AC-3 (0x80)
#   dts.VOB  PAL MPEG-2, DTS 5.1 (0x88) on its own
#   lpcm.VOB PAL MPEG-2, 6-channel 16-bit LPCM (0xA0) on its own
# The muxer numbers each codec from its base id (AC-3 0x80, DTS 0x88, LPCM 0xA0), and all of
# those map to audio slot 0, so DTS and LPCM each get a file of their own as well.
# ffmpeg's DVD muxer takes 16-bit LPCM only, so no 24-bit fixture can be made with it.
set -euo pipefail
cd "$(dirname "$0")"
out=fixtures
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

ff() { ffmpeg -nostdin -y -v error -fflags +bitexact -flags +bitexact "$@" 2>/dev/null; }
tone() { echo "-f lavfi -i sine=frequency=$1:sample_rate=48000"; }

# Two subtitle pictures: a light box on a transparent ground, made without any image tool.
python3 - "$work" <<'PY'
import struct, sys, zlib
def png(path, w, h, box, colour):
    rows = bytearray()
    for y in range(h):
        rows.append(0)
        for x in range(w):
            inside = box[0] <= x < box[2] and box[1] <= y < box[3]
            rows += bytes(colour + (255,)) if inside else bytes(4)
    chunk = lambda t, d: struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d) & 0xffffffff)
    open(path, 'wb').write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 6, 0, 0, 0))
                           + chunk(b'IDAT', zlib.compress(bytes(rows), 9)) + chunk(b'IEND', b''))
png(sys.argv[1] + '/s1.png', 200, 40, (10, 10, 190, 30), (255, 255, 255))
png(sys.argv[1] + '/s2.png', 160, 30, (5, 5, 150, 25), (255, 255, 0))
PY
for n in 1 2; do
  cat > "$work/subs$n.xml" <<XML
<subpictures format="NTSC"><stream>
<spu start="00:00:00.20" end="00:00:00.90" image="$work/s$n.png" xoffset="100" yoffset="400"/>
<spu start="00:00:01.00" end="00:00:01.80" image="$work/s$n.png" xoffset="120" yoffset="380"/>
</stream></subpictures>
XML
done

ff -f lavfi -i testsrc=size=720x480:rate=30000/1001 $(tone 440) -t 2 \
  -map 0:v -map 1:a -map 1:a -map 1:a -map 1:a -map 1:a \
  -c:v mpeg2video -b:v 3M -g 15 -bf 2 -aspect 4:3 \
  -c:a:0 ac3 -b:a:0 448k -ac:a:0 6 -c:a:1 dca -strict -2 -ac:a:1 6 \
  -c:a:2 pcm_s16be -ac:a:2 2 -c:a:3 pcm_dvd -ac:a:3 2 -c:a:4 mp2 -b:a:4 192k -ac:a:4 2 \
  -f dvd -muxrate 10080000 "$work/mix0.mpg"
spumux -m dvd -s 0 "$work/subs1.xml" < "$work/mix0.mpg" > "$work/mix1.mpg" 2>/dev/null
spumux -m dvd -s 1 "$work/subs2.xml" < "$work/mix1.mpg" > "$out/mix.VOB" 2>/dev/null

ff -f lavfi -i testsrc=size=720x576:rate=25 $(tone 330) $(tone 550) -t 2 \
  -map 0:v -map 1:a -map 2:a -map 1:a \
  -c:v mpeg2video -b:v 3M -g 12 -bf 2 -aspect 16:9 \
  -c:a:0 ac3 -b:a:0 384k -ac:a:0 6 -c:a:1 ac3 -b:a:1 192k -ac:a:1 2 -c:a:2 pcm_s16be -ac:a:2 6 \
  -f dvd -muxrate 10080000 "$out/pal.VOB"

ff -f lavfi -i testsrc=size=1280x720:rate=25 $(tone 660) -t 2 \
  -map 0:v -map 1:a -pix_fmt yuv420p -c:v libx264 -preset veryfast -profile:v high -x264-params aud=1 -b:v 2M \
  -c:a ac3 -b:a 192k -ac 2 -f dvd -muxrate 10080000 "$out/avc.VOB"

ff -f lavfi -i testsrc=size=720x576:rate=25 $(tone 770) -t 2 \
  -map 0:v -map 1:a -c:v mpeg2video -b:v 2M -c:a dca -strict -2 -ac 6 \
  -f dvd -muxrate 10080000 "$out/dts.VOB"

ff -f lavfi -i testsrc=size=720x576:rate=25 $(tone 880) -t 1 \
  -map 0:v -map 1:a -c:v mpeg2video -b:v 2M -c:a pcm_s16be -ac 6 \
  -f dvd -muxrate 10080000 "$out/lpcm.VOB"

ls -l "$out"
