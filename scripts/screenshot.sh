#!/usr/bin/env bash
# Builds, opens the sample disc's FEATURE_1.EVO in the window under a virtual X server, runs
# "Read EVO" and saves the window as docs/screenshot.png.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh xvfb xauth
xvfb-run -a -s "-screen 0 1024x768x24" build/strandis-screenshot "$PWD/build/samples/HVDVD_TS/FEATURE_1.EVO" docs/screenshot.png 0
echo "docs/screenshot.png"
