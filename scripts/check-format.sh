#!/usr/bin/env bash
# Checks that every C++ file of the project is as clang-format (with the root's .clang-format)
# writes it; installs clang-format when it is missing. Lists the files that are not.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang-format >/dev/null 2>&1; then
  scripts/setup.sh clang-format >/dev/null
fi
bad=$(git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run 2>&1 | grep -oE '^[^:]+\.(cpp|h)' | sort -u || true)
if [ -n "$bad" ]; then
  echo "Not as clang-format writes them (run clang-format -i on them):"
  echo "$bad"
  exit 1
fi
echo "clang-format: every C++ file is formatted."
