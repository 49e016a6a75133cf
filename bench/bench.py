#!/usr/bin/env python3
"""Speed and peak memory of bankrip against the limits it cannot beat.

Run through bench/run.sh, which builds what this needs. Makes its banks
with make_bench_banks, then for each bank, in alternating order within each
round: bankrip against its reference (cp of the bank for PCM16, bankrip on
PCM16 for the ADPCM codecs, the codec library alone for MPEG and Vorbis,
cp of the bank for --keep-original on the MPEG and Vorbis banks, whose
files' size is also given against the bank's audio data).
Each run writes to a fresh folder; times are whole-process wall and CPU
time, peak memory the kernel's maxrss. Prints one table of medians.

--smoke makes tiny banks and runs each command once: it checks that the
bench works and that bankrip's MPEG and Vorbis samples equal the floor's.
"""
import argparse
import json
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import wave

PCM_FRAMES = 256 * 1024 * 1024 // 4  # 256 MiB of 16-bit stereo
MPEG_FRAMES = 80_000_000
KINDS = ["pcm16", "ima", "gcadpcm", "vag", "fadpcm", "mpeg", "vorbis", "flac", "mp3", "ogg"]
# --keep-original: the MPEG and Vorbis banks written as stored, against cp.
ORIGINAL = {"mp3": "mpeg", "ogg": "vorbis"}
ADPCM = {"ima": "IMA ADPCM", "gcadpcm": "GC DSP ADPCM", "vag": "PS ADPCM", "fadpcm": "FADPCM"}
MEMORY_LIMIT_KIB = 8 * 1024
RATIO_LIMITS = {"pcm16": 1.25, "adpcm": 2.0, "lossy": 1.05, "flac": 1.1, "original": 1.5}
SIZE_LIMIT = 1.05  # a kept original against the bank's audio data
OGG_CP_LIMIT = 2.0     # Vorbis as .ogg against cp: every byte is read for the page CRC
OGG_FLOOR_LIMIT = 1.25  # or against one read, one CRC and one write through a buffer
MEASURE = "measure"


def run(command, out_dir):
    """Runs command with a fresh out_dir; returns (wall s, cpu s, peak KiB)."""
    shutil.rmtree(out_dir, ignore_errors=True)
    os.mkdir(out_dir)
    done = subprocess.run([MEASURE] + command, stdout=subprocess.PIPE, text=True)
    if done.returncode != 0:
        sys.exit(f"bench: {' '.join(command)} failed with status {done.returncode}")
    wall, cpu, rss = done.stdout.split()
    return float(wall), float(cpu), int(rss)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--runs", type=int, default=5, help="timed runs per command, after one warm-up")
    parser.add_argument("--smoke", action="store_true")
    parser.add_argument("--kinds", default=",".join(KINDS))
    parser.add_argument("--jobs", action="store_true", help="also the table of -j 1 against -j 2")
    parser.add_argument("--only-jobs", action="store_true", help="only the table of -j 1 against -j 2")
    parser.add_argument("--only-rebuild", action="store_true", help="only the row of --replace against cp")
    parser.add_argument("--only-encode", action="store_true",
                        help="only the rows of --replace encoding MPEG and Vorbis against lame and oggenc")
    args = parser.parse_args()

    build = os.path.abspath(args.build)
    tool = os.path.join(build, "bankrip")
    maker = os.path.join(build, "bench", "make_bench_banks")
    floor = os.path.join(build, "bench", "codec_floor")
    global MEASURE
    MEASURE = os.path.join(build, "bench", "measure")
    kinds = [k for k in args.kinds.split(",") if k]
    if any(k in kinds for k in ("mpeg", "mp3")) and not shutil.which("lame"):
        print("bench: lame is not installed (scripts/setup-deps installs it): no MPEG bank")
        kinds = [k for k in kinds if k not in ("mpeg", "mp3")]
    if any(k in ADPCM or k == "flac" for k in kinds) and "pcm16" not in kinds:
        kinds.insert(0, "pcm16")  # the ADPCM codecs are measured against it; FLAC writes its samples
    runs = 1 if args.smoke else max(args.runs, 1)
    pcm_frames = 48000 * 3 if args.smoke else PCM_FRAMES
    lossy_frames = 48000 * 3 if args.smoke else MPEG_FRAMES

    work = tempfile.mkdtemp(prefix="bench-", dir=build)
    single = None
    if args.only_encode:
        single = lambda: encode_rows(args, tool, maker, work, runs)
    elif args.only_rebuild:
        single = lambda: rebuild_row(args, tool, maker, work, runs)
    elif args.only_jobs:
        single = lambda: jobs_table(args, build, tool, maker, work, runs, pcm_frames, lossy_frames)
    if single:
        try:
            failures = single()
            for f in failures:
                print("FAIL: " + f)
            return 1 if failures else 0
        finally:
            shutil.rmtree(work, ignore_errors=True)
    try:
        def frames_of(kind):
            return lossy_frames if kind in ("mpeg", "vorbis") else pcm_frames

        def data_bytes(bank):
            # The FSB5 header's size of the audio data.
            with open(bank, "rb") as f:
                return int.from_bytes(f.read(24)[20:24], "little")

        def make(kind, scale, folder):
            os.makedirs(folder, exist_ok=True)
            subprocess.run([maker, folder, str(frames_of(kind) * scale), kind], check=True)
            return os.path.join(folder, kind + ".fsb")

        # FLAC output is measured on the PCM16 bank, the kept originals on
        # the MPEG and Vorbis banks.
        def source_kind(kind):
            return "pcm16" if kind == "flac" else ORIGINAL.get(kind, kind)

        banks = {}
        for k in kinds:
            if source_kind(k) not in banks:
                banks[source_kind(k)] = make(source_kind(k), 1, os.path.join(work, "banks"))
            banks[k] = banks[source_kind(k)]
        out = os.path.join(work, "out")

        def commands(kind):
            bank = banks[kind]
            mine = [tool, bank, out]
            if kind == "pcm16":
                return mine, ["cp", bank, out]
            if kind in ADPCM:
                return mine, [tool, banks["pcm16"], out]
            if kind == "flac":
                return ([tool, "-q", "--format", "flac", "-o", out, bank],
                        [floor, "flac", bank, os.path.join(out, "floor.flac")])
            if kind in ORIGINAL:
                return [tool, "-q", "--keep-original", "-o", out, bank], ["cp", bank, out]
            return mine, [floor, kind, bank, os.path.join(out, "floor.raw")]

        # Warm-up: fills the page cache and checks the lossy outputs.
        failures = []
        sizes = {}
        for kind in kinds:
            mine, reference = commands(kind)
            run(mine, out)
            if kind in ("mpeg", "vorbis"):
                wav = os.path.join(out, kind + ".wav")
                with open(wav, "rb") as f:
                    ours = f.read()[44:]
                run(reference, out)
                with open(os.path.join(out, "floor.raw"), "rb") as f:
                    if f.read() != ours:
                        failures.append(f"{kind}: bankrip's samples differ from the floor's")
            elif kind in ORIGINAL:
                kept = os.path.join(out, ORIGINAL[kind] + "." + kind)
                if not os.path.exists(kept):
                    failures.append(f"{kind}: --keep-original wrote no {kept}")
                sizes[kind] = os.path.getsize(kept) / data_bytes(banks[kind]) if os.path.exists(kept) else 0.0
                run(reference, out)
            else:
                run(reference, out)

        # The Ogg row is also measured against one read, one CRC and one
        # write of the bank through a buffer, side by side with cp.
        def copy_crc(kind):
            return [floor, "copycrc", banks[kind], os.path.join(out, "floor.copy")]

        times = {k: ([], [], []) for k in kinds}
        for r in range(runs):
            for kind in kinds:
                mine, reference = commands(kind)
                pair = [(0, mine), (1, reference)] + ([(2, copy_crc(kind))] if kind == "ogg" else [])
                if r % 2:
                    pair.reverse()
                for which, command in pair:
                    times[kind][which].append(run(command, out))

        # Peak memory on banks twice as large, one run each.
        double_rss = {}
        for kind in kinds:
            folder = os.path.join(work, "double")
            bank = make(source_kind(kind), 2, folder)
            mine = commands(kind)[0]
            double_rss[kind] = run([bank if part == banks[kind] else part for part in mine], out)[2]
            shutil.rmtree(folder)
            shutil.rmtree(out, ignore_errors=True)

        def median(samples, i):
            return statistics.median(s[i] for s in samples)

        rows = []
        pcm_wall = median(times["pcm16"][0], 0) if "pcm16" in times else None
        pcm_cpu = median(times["pcm16"][0], 1) if "pcm16" in times else None
        for kind in kinds:
            mine, reference, floor_runs = times[kind]
            wall, cpu = median(mine, 0), median(mine, 1)
            rss = max(s[2] for s in mine)
            if kind == "pcm16":
                label, against, limit = "PCM16", "cp", RATIO_LIMITS["pcm16"]
                ref_wall, ref_cpu = median(reference, 0), median(reference, 1)
            elif kind in ADPCM:
                # Same frames, same output bytes: the PCM16 run is the reference.
                label, against, limit = ADPCM[kind], "PCM16", RATIO_LIMITS["adpcm"]
                ref_wall, ref_cpu = pcm_wall, pcm_cpu
            elif kind == "flac":
                label, against, limit = "PCM16 to FLAC", "libFLAC", RATIO_LIMITS["flac"]
                ref_wall, ref_cpu = median(reference, 0), median(reference, 1)
            elif kind in ORIGINAL:
                label = "MPEG as .mp3" if kind == "mp3" else "Vorbis as .ogg"
                against, limit = "cp", RATIO_LIMITS["original"]
                ref_wall, ref_cpu = median(reference, 0), median(reference, 1)
            else:
                label = "MPEG III" if kind == "mpeg" else "Vorbis"
                against, limit = "floor", RATIO_LIMITS["lossy"]
                ref_wall, ref_cpu = median(reference, 0), median(reference, 1)
            ratio = wall / ref_wall if ref_wall else 0.0
            cpu_ratio = cpu / ref_cpu if ref_cpu else 0.0
            met = ratio <= limit and rss <= MEMORY_LIMIT_KIB and double_rss[kind] <= MEMORY_LIMIT_KIB
            floor_row = None
            if kind == "ogg":
                # 2.0 times cp (which copies inside the kernel), or 1.25 times
                # the read + CRC + write floor: either meets the target.
                limit = OGG_CP_LIMIT
                floor_wall, floor_cpu = median(floor_runs, 0), median(floor_runs, 1)
                floor_ratio = wall / floor_wall if floor_wall else 0.0
                within = rss <= MEMORY_LIMIT_KIB and double_rss[kind] <= MEMORY_LIMIT_KIB
                met = within and (ratio <= OGG_CP_LIMIT or floor_ratio <= OGG_FLOOR_LIMIT)
                floor_row = (label + " (floor)", f"{os.path.getsize(banks[kind]) / 2**20:.1f}", f"{wall:.3f}",
                             f"{cpu:.3f}", "read+CRC+write", f"{floor_wall:.3f}", f"{floor_cpu:.3f}",
                             f"{floor_ratio:.2f}", f"{cpu / floor_cpu if floor_cpu else 0.0:.2f}",
                             f"<= {OGG_FLOOR_LIMIT:.2f}", "", "", "", "yes" if met else "no")
            size = f"{sizes[kind]:.3f}" if kind in sizes else ""
            if kind in sizes and sizes[kind] > SIZE_LIMIT:
                met = False
            if not met and not args.smoke:
                failures.append(f"{label}: target missed")
            rows.append((label, f"{os.path.getsize(banks[kind]) / 2**20:.1f}", f"{wall:.3f}", f"{cpu:.3f}",
                         against, f"{ref_wall:.3f}", f"{ref_cpu:.3f}", f"{ratio:.2f}", f"{cpu_ratio:.2f}",
                         f"<= {limit:.2f}", f"{rss / 1024:.1f}", f"{double_rss[kind] / 1024:.1f}", size,
                         "yes" if met else "no"))
            if floor_row:
                rows.append(floor_row)

        head = ("bank", "MiB", "wall s", "cpu s", "against", "its wall", "its cpu", "wall x", "cpu x",
                "target", "peak MiB", "2x bank", "size x", "met")
        widths = [max(len(str(r[i])) for r in rows + [head]) for i in range(len(head))]
        print(f"bankrip bench: median of {runs} runs after a warm-up; {platform.machine()}, "
              f"{os.cpu_count()} cores, load average {os.getloadavg()[0]:.2f} at the end"
              + ("; smoke run: banks too small to judge the targets" if args.smoke else ""))
        for r in [head] + rows:
            print("| " + " | ".join(str(c).ljust(w) for c, w in zip(r, widths)) + " |")
            if r is head:
                print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
        if "pcm16" in kinds:
            failures += rebuild_row(args, tool, maker, work, runs)
        if "mpeg" in kinds or "vorbis" in kinds:
            failures += encode_rows(args, tool, maker, work, runs)
        if args.jobs or args.smoke:
            failures += jobs_table(args, build, tool, maker, work, runs, pcm_frames, lossy_frames)
        for f in failures:
            print("FAIL: " + f)
        return 1 if failures else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


JOB_KINDS = ["pcm16", "ima", "gcadpcm", "vag", "fadpcm", "mpeg", "vorbis", "vorbis-many", "real"]
# The real banks beside the project (.bank files, Unity resource files,
# FSB5 Vorbis banks of three encoders), copied REAL_COPIES times into one
# game folder: many banks of unequal sizes, mostly Vorbis, as games ship.
REAL_FOLDERS = ["containers", "vorbis", "vorbis-mobile", "vorbis-unmatched", "unity"]
REAL_COPIES = 8
CORPUS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "shared", "corpus")
JOB_BANKS = 8          # a folder of this many banks, the frames shared among them
JOBS_TARGET = 1.8      # -j 2 against -j 1, for every decoded codec
FOLDER_TARGET = 1.2    # PCM16 folder at -j 2 against cp -r


def jobs_table(args, build, tool, maker, work, runs, pcm_frames, lossy_frames):
    """-j 1 against -j 2 on folders of banks (and one bank of many Vorbis
    sounds), PCM16 also against cp -r; peak memory at -j 1, 2 and 8."""
    given = args.kinds.split(",") + (["vorbis-many"] if "vorbis" in args.kinds.split(",") else [])
    if "vorbis" in given and os.path.isdir(CORPUS):
        given.append("real")
    kinds = [k for k in JOB_KINDS if k in given]
    if "mpeg" in kinds and not shutil.which("lame"):
        kinds.remove("mpeg")
    folders = {}
    for kind in kinds:
        frames = lossy_frames if kind.startswith(("mpeg", "vorbis")) else pcm_frames
        folder = os.path.join(work, "jobs", kind)
        if kind == "real":
            copies = 1 if args.smoke else REAL_COPIES
            for copy in range(copies):
                for name in REAL_FOLDERS:
                    source = os.path.join(CORPUS, name)
                    if os.path.isdir(source):
                        shutil.copytree(source, os.path.join(folder, f"copy{copy}", name), dirs_exist_ok=True)
        elif kind == "vorbis-many":
            os.makedirs(folder, exist_ok=True)
            subprocess.run([maker, folder, str(frames), kind], check=True)
        else:
            for i in range(JOB_BANKS):
                sub = os.path.join(folder, f"bank{i}")
                os.makedirs(sub, exist_ok=True)
                subprocess.run([maker, sub, str(frames // JOB_BANKS), kind], check=True)
        folders[kind] = folder
    out = os.path.join(work, "jobs-out")

    def command(kind, jobs):
        return [tool, "-q", "-j", str(jobs), "-o", out, folders[kind]]

    rows, failures = [], []
    for kind in kinds:
        for c in [command(kind, 1), command(kind, 2)]:
            run(c, out)  # warm-up
        one, two, copy = [], [], []
        for r in range(runs):
            pair = [(one, command(kind, 1)), (two, command(kind, 2))]
            if kind == "pcm16":
                pair.append((copy, ["cp", "-r", folders[kind], os.path.join(out, "copy")]))
            if r % 2:
                pair.reverse()
            for sink, c in pair:
                sink.append(run(c, out))
        peaks = [max(s[2] for s in one), max(s[2] for s in two), run(command(kind, 8), out)[2]]
        wall1 = statistics.median(s[0] for s in one)
        wall2 = statistics.median(s[0] for s in two)
        speedup = wall1 / wall2 if wall2 else 0.0
        against = ""
        met = True
        if kind == "pcm16":
            cp_wall = statistics.median(s[0] for s in copy)
            ratio = wall2 / cp_wall if cp_wall else 0.0
            against = f"{ratio:.2f} x cp -r (<= {FOLDER_TARGET:.2f})"
            met = ratio <= FOLDER_TARGET
        else:
            met = speedup >= JOBS_TARGET
        if not met and not args.smoke:
            failures.append(f"{kind} with -j 2: target missed")
        size = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(folders[kind]) for f in fs)
        rows.append((kind, f"{size / 2**20:.1f}", f"{wall1:.3f}", f"{wall2:.3f}", f"{speedup:.2f}",
                     against or f">= {JOBS_TARGET:.2f}", " / ".join(f"{p / 1024:.1f}" for p in peaks),
                     "yes" if met else "no"))
    failures += memory_row(args, tool, maker, work)
    head = ("folder", "MiB", "-j 1 s", "-j 2 s", "speed-up", "target", "peak MiB -j 1/2/8", "met")
    widths = [max(len(str(r[i])) for r in rows + [head]) for i in range(len(head))]
    print(f"bankrip bench, -j: median of {runs} runs after a warm-up; {JOB_BANKS} banks per folder "
          f"(vorbis-many: one bank of 200 sounds; real: the shared real banks, {REAL_COPIES} copies); "
          f"load average {os.getloadavg()[0]:.2f} at the end")
    for r in [head] + rows:
        print("| " + " | ".join(str(c).ljust(w) for c, w in zip(r, widths)) + " |")
        if r is head:
            print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    return failures


MANY_SOUNDS = 2**20     # sounds in the bank of the memory row
MEMORY_TARGET = 2.0     # peak at -j 16 against -j 1 on it


def memory_row(args, tool, maker, work):
    """Peak memory of a bank of 2^20 empty sounds at -j 1 and -j 16: what
    every worker's own handle on the bank costs. Printed as its own line."""
    folder = os.path.join(work, "many")
    os.makedirs(folder, exist_ok=True)
    count = 2**14 if args.smoke else MANY_SOUNDS
    subprocess.run([maker, folder, str(count), "empty-many"], check=True)
    out = os.path.join(work, "many-out")
    bank = os.path.join(folder, "empty-many.fsb")
    # Each empty sound is said on standard error: not what is measured.
    quiet = ["sh", "-c", 'exec "$0" "$@" 2>/dev/null', tool]
    peaks = [run(quiet + ["-q", "-j", str(j), "-o", out, bank], out)[2] for j in (1, 16)]
    ratio = peaks[1] / peaks[0] if peaks[0] else 0.0
    met = ratio <= MEMORY_TARGET
    print(f"bankrip bench, memory: {count} empty sounds in one bank, peak {peaks[0] / 1024:.1f} MiB at -j 1, "
          f"{peaks[1] / 1024:.1f} MiB at -j 16: {ratio:.2f} times (target <= {MEMORY_TARGET:.1f}): "
          + ("met" if met else "missed"))
    return [] if met or args.smoke else ["memory at -j 16: target missed"]


def paired(mine, theirs, out, runs):
    """Both commands once to warm up (and fill the page cache), then runs
    times each, in turns; the medians of their walls and our peak."""
    run(mine, out)
    run(theirs, out)
    ours, its = [], []
    for r in range(runs):
        pair = [(ours, mine), (its, theirs)]
        if r % 2:
            pair.reverse()
        for sink, command in pair:
            sink.append(run(command, out))
    return (statistics.median(s[0] for s in ours), statistics.median(s[0] for s in its),
            max(s[2] for s in ours))


REBUILD_BYTES = 2**30   # the bank one sound of which is replaced
REBUILD_LIMIT = 1.35    # against cp: the rest is copied, moved by a size that is rarely whole pages


def rebuild_row(args, tool, maker, work, runs):
    """--replace of one sound of a 1 GiB PCM16 bank of 200 sounds against cp
    of the bank: everything but that sound is copied as stored. Printed as
    its own line."""
    folder = os.path.join(work, "rebuild")
    os.makedirs(folder, exist_ok=True)
    frames = (2**22 if args.smoke else REBUILD_BYTES) // 4
    subprocess.run([maker, folder, str(frames), "pcm16-many"], check=True)
    bank = os.path.join(folder, "pcm16-many.fsb")
    listing = subprocess.run([tool, "-l", "--json", bank], stdout=subprocess.PIPE, text=True, check=True)
    sound = json.loads(listing.stdout)["banks"][0]["sounds"][7]
    replace = os.path.join(folder, "replace")
    os.makedirs(replace)
    # One second of other samples, in the sound's own format.
    with wave.open(os.path.join(replace, os.path.basename(sound["output"])), "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(48000)
        w.writeframes(bytes((i * 7) & 0xFF for i in range(48000 * 4)))
    out = os.path.join(work, "rebuild-out")
    mine = [tool, "-q", "--replace", replace, "-o", out, bank]
    copy = ["cp", bank, out]
    wall, cp_wall, peak = paired(mine, copy, out, runs)
    ratio = wall / cp_wall if cp_wall else 0.0
    met = ratio <= REBUILD_LIMIT and peak <= MEMORY_LIMIT_KIB
    print(f"bankrip bench, rebuild: one of 200 sounds of a {os.path.getsize(bank) / 2**20:.0f} MiB PCM16 bank "
          f"replaced in {wall:.3f} s, cp {cp_wall:.3f} s: {ratio:.2f} times (target <= {REBUILD_LIMIT:.2f}), "
          f"peak {peak / 1024:.1f} MiB: " + ("met" if met else "missed"))
    shutil.rmtree(folder, ignore_errors=True)
    shutil.rmtree(out, ignore_errors=True)
    return [] if met or args.smoke else ["rebuild: target missed"]


ENCODE_SECONDS = 60     # the replacement's length
ENCODE_LIMIT = 1.25     # against the encoder's own program on the same file
ENCODE_MEMORY_KIB = 16 * 1024  # the encoder's state on top of the rebuild's buffers; not the sound's length
VORBIS_QUALITY = (50 - 1 + (50 - 100) * 0.1) / 99  # the bench bank's step 50, as libvorbisenc's quality


def encode_rows(args, tool, maker, work, runs):
    """--replace of the one sound of the MPEG (128 kbit/s) and Vorbis (step
    50) banks by a minute of stereo 48 kHz, against lame and oggenc encoding
    the same file at the same settings: the encoding is the encoders' own,
    done once. Printed as a line each."""
    seconds = 3 if args.smoke else ENCODE_SECONDS
    frames = 48000 * seconds
    failures = []
    for kind, program in (("mpeg", "lame"), ("vorbis", "oggenc")):
        if not shutil.which(program):
            print(f"bankrip bench, encoding {kind}: {program} is not installed (scripts/setup-deps installs it)")
            continue
        folder = os.path.join(work, "encode-" + kind)
        os.makedirs(folder, exist_ok=True)
        subprocess.run([maker, folder, str(frames), kind], check=True)
        bank = os.path.join(folder, kind + ".fsb")
        listing = subprocess.run([tool, "-l", "--json", bank], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                 text=True, check=True)
        sound = json.loads(listing.stdout)["banks"][0]["sounds"][0]
        replace = os.path.join(folder, "replace")
        os.makedirs(replace)
        wav = os.path.join(replace, os.path.basename(sound["output"]))
        # Two tones under a noise of their own (a linear congruence): work
        # for the encoder in every band, and not the bank's own samples.
        samples = bytearray(frames * 4)
        x = 12345
        for i in range(frames * 2):
            x = (x * 1103515245 + 12345) & 0x7FFFFFFF
            v = ((i * (331 if i % 2 else 443)) % 20000) - 10000 + (x >> 19) - 2048
            samples[2 * i:2 * i + 2] = (v & 0xFFFF).to_bytes(2, "little")
        with wave.open(wav, "wb") as w:
            w.setnchannels(2)
            w.setsampwidth(2)
            w.setframerate(48000)
            w.writeframes(bytes(samples))
        out = os.path.join(work, "encode-out")
        mine = [tool, "-q", "--replace", replace, "-o", out, bank]
        if kind == "mpeg":
            theirs = ["lame", "--quiet", "-m", "j", "--cbr", "-b", "128", "--nores", "-t", wav,
                      os.path.join(out, "x.mp3")]
        else:
            theirs = ["oggenc", "-Q", "-q", f"{VORBIS_QUALITY * 10:.4f}", "-o", os.path.join(out, "x.ogg"), wav]
        wall, their_wall, peak = paired(mine, theirs, out, runs)
        ratio = wall / their_wall if their_wall else 0.0
        met = ratio <= ENCODE_LIMIT and peak <= ENCODE_MEMORY_KIB
        label = "MPEG layer III" if kind == "mpeg" else "Vorbis"
        print(f"bankrip bench, encoding {label}: {seconds} s of stereo 48 kHz put back in {wall:.3f} s, "
              f"{program} {their_wall:.3f} s: {ratio:.2f} times (target <= {ENCODE_LIMIT:.2f}), "
              f"peak {peak / 1024:.1f} MiB: " + ("met" if met else "missed"))
        shutil.rmtree(folder, ignore_errors=True)
        shutil.rmtree(out, ignore_errors=True)
        if not met and not args.smoke:
            failures.append(f"encoding {label}: target missed")
    return failures


if __name__ == "__main__":
    sys.exit(main())
