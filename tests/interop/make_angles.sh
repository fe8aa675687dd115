#!/usr/bin/env bash
# Makes title 1 of a disc from make_disc.sh a title of two angles, in place: its two cells become
# an angle block (first and last cell) and the title table says two angles, in the IFO files and
# their backups. dvdauthor cannot author angles; the cells' own units then play as the angles.
# Usage: make_angles.sh DISC
set -euo pipefail
python3 - "$1/VIDEO_TS" <<'PY'
import sys
folder = sys.argv[1]
be = lambda d, o, n=4: int.from_bytes(d[o:o + n], 'big')
vmg = bytearray(open(folder + '/VIDEO_TS.IFO', 'rb').read())
vmg[be(vmg, 0xC4) * 2048 + 8 + 1] = 2  # title 1: two angles
vts = bytearray(open(folder + '/VTS_01_0.IFO', 'rb').read())
pgcit = be(vts, 0xCC) * 2048
pgc = pgcit + be(vts, pgcit + 8 + 4)
cells = pgc + be(vts, pgc + 232, 2)
vts[cells] = (vts[cells] & 0x0F) | 0x50            # first cell of an angle block
vts[cells + 24] = (vts[cells + 24] & 0x0F) | 0xD0  # its last cell
for name, data in (('VIDEO_TS', vmg), ('VTS_01_0', vts)):
    for ext in ('IFO', 'BUP'):
        open('%s/%s.%s' % (folder, name, ext), 'wb').write(data)
PY
