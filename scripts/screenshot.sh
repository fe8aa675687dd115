#!/usr/bin/env bash
# Builds, opens the sample disc's FEATURE_1.EVO in the window under a virtual X server and saves
# two pictures into build/: after "Read EVO" (the Audio page) and after "Read XPL" (the XPL
# page). With --update-docs they also replace the pictures the README shows.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh xvfb xauth
source="$PWD/build/samples/HVDVD_TS/FEATURE_1.EVO"
# A settings file of its own, so that no stored size or place of the user's window shows.
export XDG_CONFIG_HOME="$PWD/build/screenshot-settings"
rm -rf "$XDG_CONFIG_HOME"
shoot() {
    xvfb-run -a -s "-screen 0 1024x768x24" build/strandis-screenshot "$source" "$@"
    echo "$1"
}
shoot build/screenshot-read-evo.png 2
shoot build/screenshot-read-xpl.png 4 xpl
if [[ "${1:-}" == "--update-docs" ]]; then
    cp build/screenshot-read-evo.png docs/screenshot-read-evo.png
    cp build/screenshot-read-xpl.png docs/screenshot-read-xpl.png
    echo "docs/ updated"
fi
