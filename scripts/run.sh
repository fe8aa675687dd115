#!/usr/bin/env bash
# Sets up, builds the window (not the tests) and starts it. Arguments go to the window.
set -euo pipefail
cd "$(dirname "$0")/.."
STRANDIS_TARGETS=strandis scripts/setup.sh
exec build/strandis "$@"
