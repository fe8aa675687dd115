#!/usr/bin/env python3
"""Times strandis-cli against the disk's own speed and against ffmpeg on one warm stream.

demux and rebuild run as a user starts them: their detection scan stops past 300,000,000 bytes
(fast check), then the whole file is read once more.

Writes a stream of --size MiB with build/strandis-bench-stream (once, into --dir), puts it in
the page cache as reading it from the disk does (written out, dropped and read back), then runs
every command once per round for --runs rounds and prints, for each, the median and best
seconds, GB/s, peak resident memory and the ratios (of medians) to cat (cp for runs that write)
and to the ffmpeg run that does the same job, with the share of CPU time the host took
meanwhile (on a shared virtual machine that share is the noise). Outputs are removed after each
run.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CLI = os.path.join(ROOT, "build", "strandis-cli")
GENERATOR = os.path.join(ROOT, "build", "strandis-bench-stream")


def run_once(command, out_dir):
    """Runs one command; returns (seconds, peak resident KiB as GNU time measures it)."""
    os.makedirs(out_dir, exist_ok=True)
    rss = os.path.join(os.path.dirname(out_dir), "rss.txt")
    errors = os.path.join(os.path.dirname(out_dir), "stderr.txt")
    started = time.perf_counter()
    with open(errors, "w") as err:
        code = subprocess.call(["/usr/bin/time", "-f", "%M", "-o", rss, "sh", "-c", f"exec {command}"],
                               cwd=out_dir, stdout=subprocess.DEVNULL, stderr=err)
    seconds = time.perf_counter() - started
    if code != 0:
        with open(errors, errors="replace") as text:
            sys.exit(f"failed ({code}): {command}\n{text.read()}")
    with open(rss) as text:
        peak = int(text.read().split()[-1])
    shutil.rmtree(out_dir)
    return seconds, peak


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--size", type=int, default=2048, help="stream size in MiB (default 2048)")
    parser.add_argument("--runs", type=int, default=5, help="runs of each command (default 5)")
    parser.add_argument("--dir", default="/tmp/strandis-bench", help="where the stream and outputs go")
    parser.add_argument("--only", help="semicolon-separated names of the runs to time")
    parser.add_argument("--before", help="an earlier strandis-cli whose runs are timed too, beside ours")
    parser.add_argument("--no-dvd", action="store_true", help="time the HD DVD stream only")
    parser.add_argument("--cold", action="store_true",
                        help="drop the streams from the page cache before every run")
    args = parser.parse_args()

    os.makedirs(args.dir, exist_ok=True)
    stream = os.path.join(args.dir, f"FEATURE_{args.size}.EVO")
    if not os.path.exists(stream) or os.path.getsize(stream) < args.size << 20:
        subprocess.run([GENERATOR, stream, str(args.size)], check=True)
    size = os.path.getsize(stream)
    warm([stream])
    out = os.path.join(args.dir, "out")
    ffmpeg = shutil.which("ffmpeg") is not None
    ff = f"ffmpeg -nostdin -v quiet -y -i '{stream}'"
    # Each stream copied into a file of its own, raw where ffmpeg has a raw muxer for it.
    every = ["0:i:0x1e0 -c copy -f mpeg2video v.m2v", "0:i:0x80 -c copy -f ac3 a0.ac3", "0:i:0x81 -c copy -f ac3 a1.ac3",
             "0:i:0xa2 -c copy -f mpeg a2.mpg", "0:i:0x8b -c copy -f dts a3.dts", "0:i:0x20 -c copy -f mpeg s0.mpg",
             "0:i:0x21 -c copy -f mpeg s1.mpg"]

    # name, command, writes, ffmpeg equivalent
    runs = [
        ("cat (read limit)", f"cat '{stream}' > /dev/null", False, None),
        ("cp (read + write limit)", f"cp '{stream}' copy.EVO", True, None),
        ("scan --full, frames and details", f"{CLI} scan --full '{stream}'", False, "ffprobe -count_packets"),
        ("scan --full --no-count", f"{CLI} scan --full --no-count '{stream}'", False, "ffprobe -count_packets"),
        ("demux one audio stream", f"{CLI} demux --streams a0 -o . '{stream}'", False, "ffmpeg copy, one stream"),
        ("demux every stream", f"{CLI} demux -o . '{stream}'", True, "ffmpeg copy, every stream"),
        ("demux every stream, subpictures as PGS",
         f"{CLI} demux --sub-format pgs -o . '{stream}'", True, "ffmpeg copy, every stream"),
        ("demux every stream, LPCM as WAV, subpictures as PGS",
         f"{CLI} demux --lpcm-wav --sub-format pgs -o . '{stream}'", True, "ffmpeg copy, every stream"),
        ("mkv (demux, then mkvmerge)", f"{CLI} mkv -q -o out.mkv '{stream}' && rm -f out.mkv", True,
         "mkvmerge reading the stream"),
        ("rebuild without one audio stream", f"{CLI} rebuild --streams v0,a1,a2,a3,s0,s1 -o . '{stream}'", True,
         "ffmpeg remux without one stream"),
    ]
    if args.before:
        runs = with_before(runs, args.before)
    if shutil.which("mkvmerge") is not None:
        runs.append(("mkvmerge reading the stream", f"mkvmerge -q -o direct.mkv '{stream}' && rm -f direct.mkv",
                     True, None))
    if ffmpeg:
        runs += [
            ("ffprobe -count_packets", f"ffprobe -v quiet -count_packets -show_entries stream=nb_read_packets '{stream}'", False, None),
            ("ffmpeg copy, one stream", f"{ff} -map 0:i:0x80 -c copy -f ac3 a0.ac3", False, None),
            ("ffmpeg copy, every stream", ff + "".join(f" -map {e}" for e in every), True, None),
            # ffmpeg finds no channel count in the DTS noise and will not mux it: left out too.
            ("ffmpeg remux without one stream",
             f"{ff} -map 0 -map -0:i:0x80 -map -0:i:0x8b -map -0:i:0x1bf -c copy -f dvd out.vob", True, None),
        ]
    wanted = set(args.only.split(";")) if args.only else set()
    if args.only:
        runs = [r for r in runs
                if r[0].removesuffix(" (before)") in wanted or r[0].split(" ")[0] in ("cat", "cp")]

    print(f"CPU: {cpu_model()}, {os.cpu_count()} CPUs.\n")
    print("HD DVD stream (MPEG-2, AC-3, LPCM, DTS, subpictures):")
    measure(runs, out, args.runs, size, [stream] if args.cold else [])
    if not args.no_dvd:
        vob = dvd_stream(args.dir, args.size)
        vob_size = os.path.getsize(vob)
        warm([vob, angle_stream(vob)])
        dvd_runs = [
            ("cat (read limit)", f"cat '{vob}' > /dev/null", False, None),
            ("cp (read + write limit)", f"cp '{vob}' copy.VOB", True, None),
            ("scan --full, frames and details", f"{CLI} scan --full '{vob}'", False, None),
            ("demux every stream", f"{CLI} demux -o . '{vob}'", True, None),
            ("rebuild without one audio stream", f"{CLI} rebuild --streams=-a0 -o . '{vob}'", True, None),
            ("demux every stream of angle 1 of the same VOB made two angles",
             f"{CLI} demux --angle 1 -o . '{angle_stream(vob)}'", True, None),
        ]
        if args.before:
            dvd_runs = with_before(dvd_runs, args.before)
        if args.only:
            dvd_runs = [r for r in dvd_runs
                        if r[0].removesuffix(" (before)") in wanted or r[0].split(" ")[0] in ("cat", "cp")]
        print("\nDVD VOB (the test fixtures one after the other: MPEG-2, AC-3, DTS, LPCM, MP2, "
              "subpictures):")
        angles = vob.replace("DVD_", "ANGLES_")
        measure(dvd_runs, out, args.runs, vob_size, [vob, angles] if args.cold else [])


def with_before(runs, before):
    """Each of our runs twice, the earlier build's right behind ours."""
    twins = []
    for run in runs:
        twins.append(run)
        if run[1].startswith(CLI):
            twins.append((run[0] + " (before)", before + run[1][len(CLI):], run[2], run[3]))
    return twins


def warm(paths):
    """Puts the files in the page cache as reading them from the disk does. A file just written
    sits there in the 4 KiB pages it was written in, while one read from the disk comes in large
    pieces (up to 2 MiB), which cost every reader less to map and to copy: so each file is
    written out, dropped, and read back."""
    for path in paths:
        fd = os.open(path, os.O_RDONLY)
        os.fsync(fd)
        os.close(fd)
    evict(paths)
    for path in paths:
        subprocess.run(f"cat '{path}' > /dev/null", shell=True, check=True)


def evict(paths):
    """Drops the files' pages from the page cache: the next read comes from the disk."""
    for path in paths:
        if os.path.exists(path):
            fd = os.open(path, os.O_RDONLY)
            os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
            os.close(fd)


def measure(runs, out, rounds, size, cold):
    """Times every run `rounds` times, in turns, and prints the table; with `cold` files, each
    run starts with them out of the page cache."""
    # Rounds of every command in turn, so that a slow spell of the machine weighs on all alike.
    times = {name: [] for name, *_ in runs}
    peaks = {name: [] for name, *_ in runs}
    stolen_before = cpu_ticks()
    for _ in range(rounds):
        for name, command, _, _ in runs:
            evict(cold)
            seconds, peak = run_once(command, out)
            times[name].append(seconds)
            peaks[name].append(peak)
    stolen = steal_share(stolen_before, cpu_ticks())
    results = {name: (statistics.median(times[name]), min(times[name]), max(peaks[name])) for name in times}

    cat = results["cat (read limit)"][0]
    cp = results["cp (read + write limit)"][0]
    state = "read from the disk (dropped from the page cache before each run)" if cold else "warm in the page cache"
    print(f"Stream: {size / 1e9:.2f} GB ({size} bytes), {state}; median and best of "
          f"{rounds} rounds; {stolen:.0f} % of the CPU time was taken by the host (steal).\n")
    print("| run | seconds | best | GB/s | peak RSS (MiB) | x cat or cp | x ffmpeg |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    for name, _, writes, peer in runs:
        seconds, best, peak = results[name]
        reference = cp if writes else cat
        limit = "" if name.startswith(("cat", "cp")) else f"{reference / seconds:.2f} x {'cp' if writes else 'cat'}"
        versus = f"{results[peer][0] / seconds:.1f}" if peer and peer in results else ""
        print(f"| {name} | {seconds:.3f} | {best:.3f} | {size / seconds / 1e9:.2f} | {peak / 1024:.1f} | {limit} | {versus} |")


def cpu_model():
    with open("/proc/cpuinfo") as info:
        for line in info:
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    return "unknown"


def dvd_stream(folder, mib):
    """A DVD VOB of about `mib` MiB: the interop fixtures, whole packs, one after the other."""
    path = os.path.join(folder, f"DVD_{mib}.VOB")
    if os.path.exists(path) and os.path.getsize(path) >= mib << 20:
        return path
    fixtures = os.path.join(ROOT, "tests", "interop", "fixtures")
    parts = [open(os.path.join(fixtures, name), "rb").read() for name in ("mix.VOB", "pal.VOB", "dts.VOB", "lpcm.VOB")]
    with open(path, "wb") as vob:
        written = 0
        while written < mib << 20:
            for part in parts:
                vob.write(part)
                written += len(part)
    return path


def angle_stream(vob):
    """The VOB as a lone VOB of two interleaved angles: its units, one in two, the first angle's
    (VOB 1 cell 1) and the second's (VOB 2 cell 1), as their navigation packs say."""
    path = vob.replace("DVD_", "ANGLES_")
    if os.path.exists(path) and os.path.getsize(path) == os.path.getsize(vob):
        return path
    units = 0
    with open(vob, "rb") as source, open(path, "wb") as out:
        while chunk := bytearray(source.read(32 << 20)):
            for at in range(0, len(chunk) - 2047, 2048):
                head = at + 14 + (chunk[at + 13] & 7)
                if chunk[head:head + 4] != b"\x00\x00\x01\xbb":
                    continue
                pci = head + 6 + (chunk[head + 4] << 8 | chunk[head + 5])
                dsi = pci + 6 + (chunk[pci + 4] << 8 | chunk[pci + 5]) + 7
                if chunk[pci + 3] != 0xBF or dsi + 44 > at + 2048 or chunk[dsi - 1] != 0x01:
                    continue
                chunk[dsi + 24:dsi + 28] = bytes([0, 1 + units % 2, 0, 1])
                chunk[dsi + 32:dsi + 34] = b"\x70\x00"  # an interleaved unit, whole
                units += 1
            out.write(chunk)
    return path


def cpu_ticks():
    """(steal, total) ticks of all CPUs so far, from /proc/stat."""
    with open("/proc/stat") as stat:
        fields = [int(x) for x in stat.readline().split()[1:]]
    return fields[7] if len(fields) > 7 else 0, sum(fields[:8])


def steal_share(before, after):
    total = after[1] - before[1]
    return 100.0 * (after[0] - before[0]) / total if total > 0 else 0.0

if __name__ == "__main__":
    main()
