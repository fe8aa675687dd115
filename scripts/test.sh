#!/usr/bin/env bash
# Sets up, builds and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh ffmpeg dvdauthor
ctest --test-dir build --output-on-failure --parallel 2
