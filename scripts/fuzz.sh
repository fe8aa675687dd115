#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UndefinedBehaviorSanitizer on)
# into build-fuzz/, seeds their corpora from the sample disc, the interop fixtures and the corpus
# kept in fuzz/corpus/, and runs each target for SECONDS (default 60), two at a time. Findings
# land in build-fuzz/findings/, logs in build-fuzz/logs/. With STRANDIS_FUZZ_KEEP=1 the inputs
# that reached new code are merged into fuzz/corpus/ afterwards, to be committed.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(scan_check scan_demux rebuild xpl analysers outputs subpictures scan_convert ifo)

scripts/setup.sh clang libclang-rt-14-dev
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSTRANDIS_FUZZ=ON -DSTRANDIS_BUILD_APP=OFF -DSTRANDIS_BUILD_TESTS=OFF >/dev/null
cmake --build build-fuzz --parallel

seeds=build-fuzz/seeds
rm -rf "$seeds"
mkdir -p "$seeds"/{scan_check,scan_demux,rebuild,xpl,analysers,outputs,subpictures,scan_convert,ifo} build-fuzz/es build-fuzz/findings build-fuzz/logs
streams=(build/samples/HVDVD_TS/FEATURE_1.EVO tests/interop/fixtures/*.VOB)
n=0
for stream in "${streams[@]}"; do
  n=$((n + 1))
  { printf '\x00\x00'; head -c 65536 "$stream"; } > "$seeds/scan_check/$n"
  { printf '\x01\x40'; head -c 32768 "$stream"; } > "$seeds/scan_check/$n-edge"
  { printf '\x00\x00\x01\x00\x00\xff'; head -c 65536 "$stream"; } > "$seeds/scan_demux/$n"
  { head -c 34 /dev/zero | tr '\0' '\377'; head -c 32768 "$stream"; } > "$seeds/rebuild/$n"
  { printf '\x00\xfe\x01\x02'; head -c 65536 "$stream"; } > "$seeds/scan_convert/$n"
done
{ printf '\x05\x01'; cat build/samples/ADV_OBJ/VPLST000.XPL; } > "$seeds/xpl/sample"
build/strandis-cli demux --full -o build-fuzz/es build/samples/HVDVD_TS/FEATURE_1.EVO >/dev/null
for es in build-fuzz/es/*; do
  for reader in 0 1 2 3 4 5 6 7; do
    { printf "\\x0$reader\\x00\\x7f\\x00\\x01\\x20\\x10\\x00\\x01\\x00"; head -c 3000 "$es"; } > "$seeds/analysers/$(basename "$es")-$reader"
  done
done

# The converters: DVD subpicture units as the demux writes them in records (the unit follows a
# 10-byte record header), LPCM, and playlist lines.
build/strandis-cli demux --streams s0,s1 -o build-fuzz/es tests/interop/fixtures/mix.VOB >/dev/null
for sup in build-fuzz/es/mix.*.sup; do
  python3 -c 'import sys; d=open(sys.argv[1],"rb").read(); n=(d[10]<<8)|d[11]; sys.stdout.buffer.write(b"\0\0\0\0"+d[10:10+n])' "$sup" > "$seeds/outputs/$(basename "$sup")"
done
{ printf '\x01\x01\x02\x07'; head -c 4096 /dev/urandom; } > "$seeds/outputs/lpcm"
# Subpicture units, DVD and HD DVD, one a seed, in packets of 2,049 bytes: the interop fixtures'
# and, when they are beside the project, the shared HD DVD samples'.
for sup in build-fuzz/es/mix.*.sup ../shared/samples/hddvd-subpictures/*.sup; do
  [ -f "$sup" ] || continue
  python3 -c 'import sys
d = open(sys.argv[1], "rb").read()
n = (d[10] << 8) | d[11] or int.from_bytes(d[12:16], "big")
sys.stdout.buffer.write(b"\0\x20" + d[10:10 + n])' "$sup" > "$seeds/subpictures/$(basename "$sup")"
done
{ printf '\x02\x3c\x00\x00'; cat build/samples/ADV_OBJ/VPLST000.XPL; } > "$seeds/outputs/title"
# IFO files: a disc dvdauthor made, VIDEO_TS.IFO's length in 16-byte units in front.
if tests/interop/make_disc.sh build-fuzz/disc >/dev/null 2>&1; then
  vmg=build-fuzz/disc/VIDEO_TS/VIDEO_TS.IFO
  for vts in build-fuzz/disc/VIDEO_TS/VTS_0?_0.IFO; do
    python3 -c 'import sys; n=len(open(sys.argv[1],"rb").read())//16; sys.stdout.buffer.write(bytes([n>>8,n&255]))' "$vmg" > "$seeds/ifo/$(basename "$vts")"
    cat "$vmg" "$vts" >> "$seeds/ifo/$(basename "$vts")"
  done
fi

run() {
  local target=$1
  mkdir -p "build-fuzz/corpus/$target"
  mkdir -p "fuzz/corpus/$target"
  # libdvdread asks calloc for what a hostile IFO says and copes with a null answer, as the
  # real allocator gives one: the sanitizer's allocator must answer so too.
  # Its failure paths leak a few bytes, which LeakSanitizer would report for every bad input.
  local asan="" leaks=1
  [ "$target" = ifo ] && asan="allocator_may_return_null=1" leaks=0
  ASAN_OPTIONS="$asan" build-fuzz/fuzz_"$target" -detect_leaks=$leaks -max_total_time="$seconds" -max_len=300000 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="build-fuzz/findings/$target-" \
    "build-fuzz/corpus/$target" "fuzz/corpus/$target" "$seeds/$target" > "build-fuzz/logs/$target.log" 2>&1
  if [ "${STRANDIS_FUZZ_KEEP:-0}" = 1 ]; then
    build-fuzz/fuzz_"$target" -merge=1 -max_len=300000 "fuzz/corpus/$target" "build-fuzz/corpus/$target" \
      > "build-fuzz/logs/$target-merge.log" 2>&1
  fi
  echo "$target: $(grep -E '^(stat::number_of_executed_units|stat::new_units_added)' "build-fuzz/logs/$target.log" | tr '\n' ' ')$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "build-fuzz/logs/$target.log" | tail -1)"
}
status=0
for ((i = 0; i < ${#targets[@]}; i += 2)); do
  run "${targets[i]}" & first=$!
  if [ $((i + 1)) -lt ${#targets[@]} ]; then run "${targets[i + 1]}" & second=$!; wait $second || status=1; fi
  wait $first || status=1
done
ls build-fuzz/findings | grep . && { echo "findings in build-fuzz/findings"; status=1; }
exit $status
