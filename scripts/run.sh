#!/usr/bin/env bash
# Sets up, builds and starts the program. Arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
if [ $# -eq 0 ]; then set -- --help; fi
exec build/strandis-cli "$@"
