#!/usr/bin/env bash
# The core's folders include only the folders below them: each line gives a folder and what it
# may include besides itself. Lists every include that crosses a layer the wrong way.
set -uo pipefail
cd "$(dirname "$0")/.."
allowed=(
  "common:"
  "io:common"
  "analysers:common"
  "ps:common io"
  "outputs:common io analysers"
  "playlist:common"
  "disc:common io ps analysers playlist"
  "engine:common io analysers ps outputs disc playlist"
  "matroska:common io analysers ps outputs disc playlist engine"
)
bad=0
for rule in "${allowed[@]}"; do
  folder=${rule%%:*}
  may=" $folder ${rule#*:} "
  while IFS= read -r line; do
    file=${line%%:*}
    target=$(sed -E 's/.*#include "([a-z]+)\/.*/\1/' <<<"$line")
    if [[ "$may" != *" $target "* ]]; then
      echo "$file includes $target/, which $folder/ may not"
      bad=1
    fi
  done < <(grep -H -E '^#include "[a-z]+/' "$folder"/*.cpp "$folder"/*.h 2>/dev/null)
done
exit $bad
