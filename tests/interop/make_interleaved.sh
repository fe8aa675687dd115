#!/usr/bin/env bash
# Authors a one-title DVD-Video disc into OUT (made fresh) whose title has two seamless angles
# stored as interleaved units, as a pressed multi-angle disc stores them. dvdauthor cannot
# author angles, so it authors the title as four cells one after another, and this script then
# interleaves cells 2 and 3 unit by unit and writes what the IFOs and navigation packs say of an
# angle block (libdvdread's ifo_types.h and nav_types.h give the fields):
#   cell 1  1 s grey, 220 Hz      (both angles)
#   cell 2  2 s red, 440 Hz       angle 1
#   cell 3  2 s blue, 880 Hz      angle 2
#   cell 4  1 s green, 660 Hz     (both angles)
# Three chapters: cell 1, the block, cell 4. NTSC 720x480, 15-frame groups (one unit each); AC-3 English (0x80). On the disc the block holds
# A1 A2 A1 A2 ...: one unit of each angle in turn, each unit an interleaved unit of its own.
# Usage: make_interleaved.sh OUT
set -euo pipefail
out=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$out"
mkdir -p "$out"

clip() {  # name seconds colour tone
  ffmpeg -nostdin -y -v error -fflags +bitexact -flags +bitexact \
    -f lavfi -i "color=c=$3:size=720x480:rate=30000/1001" \
    -f lavfi -i "sine=frequency=$4:sample_rate=48000" -t "$2" \
    -map 0:v -map 1:a -c:v mpeg2video -b:v 2M -g 15 -bf 2 -aspect 4:3 \
    -c:a ac3 -b:a 192k -ac 2 -f dvd "$work/$1.mpg"
}
clip intro 1 gray 220
clip angle1 2 red 440
clip angle2 2 blue 880
clip outro 1 green 660

cat > "$work/disc.xml" <<XML
<dvdauthor dest="$out">
<vmgm/>
<titleset><titles>
<video format="ntsc" aspect="4:3"/>
<audio lang="en"/>
<pgc>
<vob file="$work/intro.mpg"><cell chapter="1"/></vob>
<vob file="$work/angle1.mpg"><cell chapter="1"/></vob>
<vob file="$work/angle2.mpg"><cell chapter="0" program="0"/></vob>
<vob file="$work/outro.mpg"><cell chapter="1"/></vob>
</pgc>
</titles></titleset>
</dvdauthor>
XML
VIDEO_FORMAT=NTSC dvdauthor -x "$work/disc.xml" >"$work/dvdauthor.log" 2>&1 ||
  { cat "$work/dvdauthor.log" >&2; exit 1; }

python3 - "$out/VIDEO_TS" <<'PY'
import struct, sys
folder = sys.argv[1]
SECTOR = 2048
END = 0x3fffffff  # no such unit: past the cell
be = lambda d, o, n=4: int.from_bytes(d[o:o + n], 'big')
def put(d, o, v, n=4):
    d[o:o + n] = v.to_bytes(n, 'big')

vmg = bytearray(open(folder + '/VIDEO_TS.IFO', 'rb').read())
vts = bytearray(open(folder + '/VTS_01_0.IFO', 'rb').read())
vob = bytearray(open(folder + '/VTS_01_1.VOB', 'rb').read())

PCI, DSI = 45, 1031  # the data of a navigation pack's two packets
def nav(sector):
    at = sector * SECTOR
    return vob[at + 38:at + 45] == b'\x00\x00\x01\xbf\x03\xd4\x00'

pgcit = be(vts, 0xCC) * SECTOR
pgc = pgcit + be(vts, pgcit + 8 + 4)
if vts[pgc + 3] != 4:
    raise SystemExit('dvdauthor made %d cells, not 4' % vts[pgc + 3])
playback = pgc + be(vts, pgc + 232, 2)
position = pgc + be(vts, pgc + 234, 2)
cell = lambda n: playback + 24 * (n - 1)
first, last = be(vts, cell(2) + 8), be(vts, cell(3) + 20)
if be(vts, cell(3) + 8) != be(vts, cell(2) + 20) + 1:
    raise SystemExit('cells 2 and 3 are not one after the other')

def units(c):  # (start, end) sectors of each unit of cell c
    starts = [s for s in range(be(vts, cell(c) + 8), be(vts, cell(c) + 20) + 1) if nav(s)]
    return [(s, s + be(vob, s * SECTOR + DSI + 8)) for s in starts]
angles = [units(2), units(3)]
if len(angles[0]) != len(angles[1]):
    raise SystemExit('the angles have %d and %d units' % tuple(map(len, angles)))

# The block laid out again: unit g of angle 1, unit g of angle 2, unit g + 1 of angle 1, ...
order = [(a, g) for g in range(len(angles[0])) for a in range(2)]
block = bytearray()
moved = {}  # old sector of a unit's start -> new
where = {}  # (angle, unit) -> new start sector
for a, g in order:
    start, end = angles[a][g]
    where[(a, g)] = first + len(block) // SECTOR
    moved[start] = where[(a, g)]
    block += vob[start * SECTOR:(end + 1) * SECTOR]
assert len(block) == (last - first + 1) * SECTOR
vob[first * SECTOR:(last + 1) * SECTOR] = block

for (a, g), here in where.items():
    at = here * SECTOR
    old = angles[a][g][0]
    put(vob, at + PCI, here)            # PCI: this pack's sector
    put(vob, at + PCI + 60, 0, 36)      # no non-seamless angle jumps
    put(vob, at + DSI + 4, here)        # DSI: this pack's sector
    size = angles[a][g][1] - old        # the unit's end, from its pack
    put(vob, at + DSI + 32, 0x7000, 2)  # interleaved unit: its first and last unit
    put(vob, at + DSI + 34, size)       # the interleaved unit's end
    following = where.get((a, g + 1))
    put(vob, at + DSI + 38, following - here if following else END)
    put(vob, at + DSI + 42, angles[a][g + 1][1] - angles[a][g + 1][0] + 1 if following else 0, 2)
    for k in range(9):                  # where each angle goes on
        entry = at + DSI + 180 + 6 * k
        target = where.get((k, g + 1)) if k < 2 else None
        if k >= 2:
            put(vob, entry, 0); put(vob, entry + 4, 0, 2)
        elif target is None:
            put(vob, entry, 0x7fffffff); put(vob, entry + 4, 0, 2)
        else:
            put(vob, entry, target - here)  # forwards: the high bit clear
            put(vob, entry + 4, angles[k][g + 1][1] - angles[k][g + 1][0] + 1, 2)
    # The search pointers (next and previous unit, with video, by time) pointed at the cell's
    # units where they were; they point at the same units where they are now.
    for field, backwards in [(234, False)] + [(238 + 4 * i, False) for i in range(19)] + \
            [(314, False), (318, True)] + [(322 + 4 * i, True) for i in range(19)] + [(398, True)]:
        value = be(vob, at + DSI + field)
        offset = value & 0x3fffffff
        if offset in (0, END):
            continue
        target = old - offset if backwards else old + offset
        if target not in moved:
            raise SystemExit('a search pointer of the unit at %d leaves its cell' % old)
        put(vob, at + DSI + field, (value & 0xc0000000) | abs(moved[target] - here))

# The cells: an angle block of two, interleaved, seamless.
for n, a in ((2, 0), (3, 1)):
    c = cell(n)
    vts[c] = (0x40 if n == 2 else 0xC0) | 0x10 | 0x08 | 0x04 | 0x01
    put(vts, c + 8, where[(a, 0)])
    put(vts, c + 12, where[(a, 0)] + angles[a][0][1] - angles[a][0][0])
    last_unit = len(angles[a]) - 1
    put(vts, c + 16, where[(a, last_unit)])
    put(vts, c + 20, where[(a, last_unit)] + angles[a][last_unit][1] - angles[a][last_unit][0])

# The cell address table: one entry per piece of a cell, in the order of the disc.
cadt = be(vts, 0xE0) * SECTOR
ids = [(be(vts, position + 4 * k, 2), vts[position + 4 * k + 3]) for k in range(4)]
entries = []
for k in range((be(vts, cadt + 4) + 1 - 8) // 12):
    e = cadt + 8 + 12 * k
    vid, cid = be(vts, e, 2), vts[e + 2]
    if (vid, cid) not in ids[1:3]:
        entries.append((be(vts, e + 4), vid, cid, be(vts, e + 8)))
for (a, g), start in where.items():
    vid, cid = ids[1 + a]
    entries.append((start, vid, cid, start + angles[a][g][1] - angles[a][g][0]))
entries.sort()
if 8 + 12 * len(entries) > SECTOR:
    raise SystemExit('the cell address table outgrows its sector')
table = struct.pack('>HHI', be(vts, cadt, 2), 0, 8 + 12 * len(entries) - 1)
for start, vid, cid, end in entries:
    table += struct.pack('>HBBII', vid, cid, 0, start, end)
vts[cadt:cadt + SECTOR] = table + bytes(SECTOR - len(table))

# The unit address map: every unit's start, in the order of the disc.
admap = be(vts, 0xE4) * SECTOR
starts = [s for s in range(len(vob) // SECTOR) if nav(s)]
if be(vts, admap) + 1 != 4 + 4 * len(starts):
    raise SystemExit('the unit map lists %d units, the VOB has %d' % ((be(vts, admap) - 3) // 4, len(starts)))
for k, s in enumerate(starts):
    put(vts, admap + 4 + 4 * k, s)

# The chain plays one angle of the block: its time counts cell 3 no more.
def frames(t):  # a playback time (BCD hours, minutes, seconds, frames) at 30 frames a second
    bcd = lambda b: (b >> 4) * 10 + (b & 15)
    return ((bcd(t[0]) * 60 + bcd(t[1])) * 60 + bcd(t[2])) * 30 + bcd(t[3] & 0x3F)
total = sum(frames(vts[cell(n) + 4:cell(n) + 8]) for n in (1, 2, 4))
bcd = lambda v: (v // 10) << 4 | v % 10
vts[pgc + 4:pgc + 8] = bytes([bcd(total // 108000), bcd(total // 1800 % 60), bcd(total // 30 % 60),
                              0xC0 | bcd(total % 30)])

vmg[be(vmg, 0xC4) * SECTOR + 8 + 1] = 2  # title 1: two angles
for name, data in (('VIDEO_TS', vmg), ('VTS_01_0', vts)):
    for ext in ('IFO', 'BUP'):
        open('%s/%s.%s' % (folder, name, ext), 'wb').write(data)
open(folder + '/VTS_01_1.VOB', 'wb').write(vob)
PY
