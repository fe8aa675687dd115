#!/usr/bin/env bash
# Run as root (as CI and containers do): clones the project into /root, which only root may
# enter, and runs there the tests that start the command line as user nobody.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" -ne 0 ]; then
  echo "root-clone-check: not root, nothing to check"
  exit 0
fi
clone=$(mktemp -d /root/strandis-root-check.XXXXXX)
trap 'rm -rf "$clone"' EXIT
chmod 700 /root "$clone"
git clone --quiet . "$clone/strandis"
cmake -S "$clone/strandis" -B "$clone/build" -G Ninja -DSTRANDIS_BUILD_APP=OFF >/dev/null
cmake --build "$clone/build" --parallel --target cli_tests strandis-cli >/dev/null
"$clone/build/cli_tests" --gtest_brief=1
