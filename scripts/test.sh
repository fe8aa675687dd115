#!/usr/bin/env bash
# Sets up, builds and runs every test; then builds the whole suite again with AddressSanitizer
# and UndefinedBehaviorSanitizer (in build-asan/) and runs it there too. STRANDIS_SANITIZERS=0
# leaves the second pass out.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh ffmpeg dvdauthor lsdvd libdvdnav-dev mkvtoolnix xvfb xauth openbox
ctest --test-dir build --output-on-failure --parallel 2
if [ "${STRANDIS_SANITIZERS:-1}" != 0 ]; then
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTRANDIS_SANITIZE=ON >/dev/null
  cmake --build build-asan --parallel
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --test-dir build-asan --output-on-failure --parallel 2
fi
