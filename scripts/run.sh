#!/usr/bin/env bash
# Sets up, builds the window and the sample disc (not the tests) and starts the window. Arguments
# go to the window.
set -euo pipefail
cd "$(dirname "$0")/.."
STRANDIS_TARGETS="strandis sample" scripts/setup.sh
exec build/strandis "$@"
