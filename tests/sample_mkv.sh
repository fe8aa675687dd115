#!/usr/bin/env bash
# The README's first Matroska command on the sample disc the build makes: the file it writes
# decodes in ffmpeg without a line, and the EVO's video, Dolby Digital and Dolby Digital Plus
# decode without one too (ffmpeg reads HD DVD's LPCM sub-stream as MLP, so not that one).
# Usage: sample_mkv.sh BUILD_FOLDER; exits 77 (skipped) without ffmpeg or mkvmerge.
set -uo pipefail
build=$1
for tool in ffmpeg mkvmerge; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
evo="$build/samples/HVDVD_TS/FEATURE_1.EVO"
"$build/strandis-cli" mkv -q "$evo" -o "$work/sample.mkv" || { echo "mkv failed"; exit 1; }
out=$(ffmpeg -nostdin -v error -i "$work/sample.mkv" -map 0:v -map 0:a -f null - 2>&1)
[ -z "$out" ] || { echo "sample.mkv: $out"; exit 1; }
out=$(ffmpeg -nostdin -v error -i "$evo" -map 0:i:0x1e0 -map 0:i:0x80 -map 0:i:0xc1 -f null - 2>&1)
[ -z "$out" ] || { echo "FEATURE_1.EVO: $out"; exit 1; }
echo "sample.mkv and the sample's coded streams decode cleanly"
