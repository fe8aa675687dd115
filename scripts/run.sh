#!/usr/bin/env bash
# Sets up, builds and starts the program's window. Arguments go to the window.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
exec build/strandis "$@"
