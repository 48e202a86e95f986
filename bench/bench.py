#!/usr/bin/env python3
"""Times fennick-convert against libsoxr alone (the compute floor), sox and ffmpeg.

Run it through scripts/bench, which installs sox and ffmpeg and builds the Release binaries.
Every conversion is done by four programs, interleaved round by round (A B C D A B C D ...):

  fennick  fennick-convert, the whole process: start, read, resample, write, exit; its channels
           split over the machine's cores, one libsoxr resampler per group of channels. As run
           from a shell it measures no loudness: it prints nothing that would show the figures
  floor    fennick-bench-floor: the same libsoxr work on audio already in memory, on one
           thread, only the libsoxr calls timed; no converter that calls libsoxr the same way on
           one thread can beat it
  sox      sox's `rate` effect (its own copy of the libsoxr algorithms)
  ffmpeg   ffmpeg's aresample filter with resampler=soxr (the system libsoxr)

and in the same rounds, for the limit columns:

  metered  fennick-convert --report json: the same conversion with the loudness and true-peak
           meter on, whose figures the report prints; metered/fennick is what the meter costs
  limit         what two cores cannot beat: the floor's libsoxr time plus the time of reading the
           source's bytes and writing the output's bytes with no processing at all (also measured
           by fennick-bench-floor), halved

Outputs are written to a folder in memory (/dev/shm) unless --outputs names another: on a virtual
disk the same bytes take from a tenth of a second to a second and a half from one run to the next,
which would measure the disk rather than the converters. After the rounds, one more untimed run of
fennick per case reads each thread's CPU time from /proc as it runs (CPU per thread).

Equal settings. Fennick's defaults are linear phase, rolloff small, bandwidth 91.3 %, no steep
filter, no forced 64-bit arithmetic, TPDF dither for 16-bit output. The peers get the same:

  fennick -q LEVEL     sox rate -Q N                ffmpeg aresample precision=BITS
    quick   (cubic)      -Q 0 (= -q)                  none: 15, its cheapest, is not equal (†)
    bits16               -Q 3                         16
    high                 -Q 4 (= -h)                  20
    bits24               -Q 5                         24
    veryHigh             -Q 6 (= -v)                  28
    bits32               -Q 7                         32
  --phase linear/intermediate/minimum   sox -L/-I/-M    ffmpeg: linear only (libsoxr's default)
  --bandwidth PCT                       sox -b PCT      ffmpeg cutoff=PCT/100
  --steep                               sox -s          ffmpeg: none
  int16 output with dither              sox: its automatic TPDF dither; ffmpeg dither_method=triangular
  --gain -3dB                           sox gain -3 after rate; ffmpeg volume=-3dB before aresample

sox's -Q N is undocumented but picks libsoxr's recipe N (its -q/-l/-m/-h/-v are -Q 0/1/2/4/6);
override options (-L, -b, -s) are refused by sox below medium, so quick gets none.
sox runs --single-threaded; libsoxr's own OpenMP threading is off in the other three (fennick and
the floor ask for one thread per resampler, ffmpeg passes no runtime spec), and SOXR_NUM_THREADS is
removed from the environment.

The batch case converts a folder of 12 files (3 minutes each, 44.1 kHz 24-bit stereo) to 48 kHz
24-bit: fennick-convert -o with -j 1 and -j 2 against a shell loop of ffmpeg and one of sox, one
file after the other as such loops run, in files per minute.
"""

import argparse
import datetime
import json
import os
import pathlib
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

TOOLS = ("fennick", "floor", "sox", "ffmpeg")
METERED = "metered"
QUALITIES = ("veryHigh", "bits32")  # the default first; "quick" on request
DEFAULT_QUALITY = "veryHigh"
BANDWIDTH = 91.3

SOX_RECIPE = {"quick": 0, "low": 1, "medium": 2, "bits16": 3, "high": 4, "bits24": 5, "veryHigh": 6, "bits32": 7}
FFMPEG_PRECISION = {"bits16": 16, "high": 20, "bits24": 24, "veryHigh": 28, "bits32": 32}
FFMPEG_CHEAPEST = 15

# name: rate, sox encoding arguments, channels, length in seconds (full run, --quick), synth
# recipe: tones, noise and a sweep per channel, mixed, at a level short of full scale.
SOURCES = {
    "music44": (44100, ["-e", "signed-integer", "-b", "24"], 2, (600, 20),
                "sine 220 sine 330 pinknoise mix brownnoise mix sine mix 20/20000 sine mix 20000/20 vol 0.7"),
    "cd44": (44100, ["-e", "signed-integer", "-b", "16"], 2, (600, 20),
             "sine 220 sine 330 pinknoise mix brownnoise mix sine mix 20/20000 sine mix 20000/20 vol 0.7"),
    "hires96": (96000, ["-e", "signed-integer", "-b", "24"], 2, (300, 20),
                "sine 110 sine 165 pinknoise mix whitenoise mix sine mix 20/40000 sine mix 40000/20 vol 0.7"),
    "surround48": (48000, ["-e", "floating-point", "-b", "32"], 6, (180, 20),
                   "sine 110 sine 220 sine 330 sine 55 pinknoise pinknoise "
                   "brownnoise mix whitenoise mix sine mix 20/20000 sine mix 20000/20 "
                   "sine mix 40/4000 pinknoise mix vol 0.5"),
}

# label, source, target rate, output format, dither (None: the default, TPDF for int16)
CASES = (
    ("44.1k stereo → 96k float32", "music44", 96000, "float32", None),
    ("44.1k stereo → 48k int24", "music44", 48000, "int24", None),
    ("96k stereo → 44.1k int16", "hires96", 44100, "int16", None),
    ("96k stereo → 44.1k int16 shaped", "hires96", 44100, "int16", "shaped"),
    ("48k 6-ch → 96k float32", "surround48", 96000, "float32", None),
    ("44.1k stereo → 48k int24 −3 dB", "music44", 48000, "int24", None),
    ("44.1k 16-bit stereo → 48k int16", "cd44", 48000, "int16", None),
)
# Options beyond the case's format and dither: the gain case's gain.
GAIN_DB = {CASES[5][0]: -3}
# What noise shaping may cost: the shaped case's fennick wall time against the same case with TPDF.
SHAPED_CASE, TPDF_CASE, SHAPED_COST_TARGET = CASES[3][0], CASES[2][0], 1.10
# sox and ffmpeg shape with their strongest 44.1 kHz filter.
SOX_DITHER = {"shaped": ["dither", "-s"]}
FFMPEG_DITHER = {"shaped": "shibata"}
MEMORY_CASE = CASES[1]
# fennick/floor wall time at the default quality, at most: where the cores, not libsoxr, set the pace.
WALL_TARGETS = {CASES[0][0]: 0.70, CASES[1][0]: 0.70, CASES[4][0]: 0.65}
# fennick/limit at the default quality, at most: the stereo cases, and the 6-channel one.
LIMIT_TARGET, LIMIT_TARGET_SURROUND = 1.15, 1.25
FFMPEG_SPEEDUP_TARGET = 2  # ffmpeg/fennick wall time, every case at the default quality
CPU_OVERHEAD_TARGET = 1.15  # fennick CPU seconds / floor CPU seconds
FFMPEG_TARGET = 1 / 1.5  # fennick/ffmpeg in the cases of WALL_TARGETS
RSS_TARGET_MB = 40
LONG_FACTOR = 6  # the long file for the memory check: six times the 10-minute one

BATCH_FILES = 12
BATCH_SECONDS = (180, 10)  # full run, --quick
BATCH_RATE, BATCH_FORMAT = 48000, "int24"
BATCH_TOOLS = ("fennick -j 1", "fennick -j 2", "ffmpeg loop", "sox loop")

SOX_ENCODING = {"int16": ["-e", "signed-integer", "-b", "16"], "int24": ["-e", "signed-integer", "-b", "24"],
                "float32": ["-e", "floating-point", "-b", "32"]}
FFMPEG_CODEC = {"int16": "pcm_s16le", "int24": "pcm_s24le", "float32": "pcm_f32le"}


def fennick_arguments(source, output, rate, fmt, quality, dither=None):
    return [str(source), str(output), "-r", str(rate), "-f", fmt, "-q", quality, "--bandwidth", str(BANDWIDTH),
            "--overwrite", "--quiet"] + (["--dither", dither] if dither else [])


def command_for(tool, binaries, source, output, rate, fmt, quality, dither=None, gain=None):
    if tool in ("fennick", "floor", METERED):
        return [binaries[tool]] + fennick_arguments(source, output, rate, fmt, quality, dither) \
            + ([f"--gain={gain}dB"] if gain is not None else []) + (["--report", "json"] if tool == METERED else [])
    if tool == "sox":
        effect = ["rate", "-Q", str(SOX_RECIPE[quality])]
        if SOX_RECIPE[quality] >= 2:
            effect += ["-L", "-b", str(BANDWIDTH)]
        return ["sox", "--single-threaded", "-V1", str(source)] + SOX_ENCODING[fmt] + [str(output)] \
            + effect + [str(rate)] + (["gain", str(gain)] if gain is not None else []) + SOX_DITHER.get(dither, [])
    if tool == "ffmpeg":
        precision = FFMPEG_PRECISION.get(quality, FFMPEG_CHEAPEST)
        options = f"aresample={rate}:resampler=soxr:precision={precision}:cutoff={BANDWIDTH / 100:g}"
        if gain is not None:
            options = f"volume={gain}dB," + options
        if fmt == "int16":
            options += ":dither_method=" + FFMPEG_DITHER.get(dither, "triangular")
        return ["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-i", str(source),
                "-af", options, "-c:a", FFMPEG_CODEC[fmt], str(output)]
    raise ValueError(tool)


def run_measured(command, env, stdout_path, rss_path):
    """Runs one child; returns its wall seconds, CPU seconds and peak RSS in KiB.

    Wall and CPU come from wait4. The peak RSS comes from /usr/bin/time: a child forked from
    this Python process would report Python's own size when that is larger than its own.
    """
    with open(stdout_path, "wb") as out:
        start = time.perf_counter()
        child = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", str(rss_path)] + command,
                                 stdout=out, stderr=subprocess.PIPE, env=env)
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    errors = child.stderr.read().decode(errors="replace")
    child.stderr.close()
    if child.returncode != 0:
        raise RuntimeError(f"{' '.join(command)} exited {child.returncode}: {errors.strip()}")
    return wall, usage.ru_utime + usage.ru_stime, int(pathlib.Path(rss_path).read_text().split()[-1])


def thread_cpu(command, env):
    """Runs one child untimed; returns the CPU seconds of each of its threads that ran for more
    than a millisecond, busiest first. The scheduler's per-thread run time is read from /proc
    every 2 ms while the child runs; a thread's last 2 ms before it ends can be missed."""
    child = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    seen = {}
    while child.poll() is None:
        try:
            tids = os.listdir(f"/proc/{child.pid}/task")
        except OSError:
            break
        for tid in tids:
            try:
                text = pathlib.Path(f"/proc/{child.pid}/task/{tid}/sched").read_text()
            except OSError:
                continue
            found = re.search(r"se\.sum_exec_runtime\s*:\s*([0-9.]+)", text)
            if found:
                seen[tid] = float(found.group(1)) / 1000
        time.sleep(0.002)
    if child.returncode != 0:
        raise RuntimeError(f"{' '.join(command)} exited {child.returncode}")
    return sorted((seconds for seconds in seen.values() if seconds > 0.001), reverse=True)


def wav_frames(path):
    return int(subprocess.run(["soxi", "-s", str(path)], check=True, capture_output=True, text=True).stdout)


def make_sources(data_dir, quick, names):
    paths = {}
    for name in names:
        rate, encoding, channels, lengths, recipe = SOURCES[name]
        seconds = lengths[1 if quick else 0]
        path = data_dir / f"{name}-{seconds}s.wav"
        if not path.exists():
            print(f"generating {path.name} ({seconds} s)", file=sys.stderr)
            partial = path.with_suffix(".partial.wav")
            subprocess.run(["sox", "-n", "-r", str(rate), "-c", str(channels)] + encoding
                           + [str(partial), "synth", str(seconds)] + recipe.split(), check=True)
            partial.rename(path)
        paths[name] = (path, seconds)
    return paths


def warm_page_cache(path):
    # Every program then reads its input from memory, as it would right after a copy or export.
    with open(path, "rb") as file:
        while file.read(1 << 20):
            pass


def load_average():
    return os.getloadavg()[0]


def time_cases(binaries, sources, work, rounds, qualities, env, loads):
    """Interleaved rounds; returns {(case label, quality): {tool: [(wall, cpu, rss), ...]}}."""
    samples = {}
    checked = set()
    for number in range(1, rounds + 1):
        loads.append(load_average())
        print(f"round {number}/{rounds} (load {loads[-1]:.2f})", file=sys.stderr)
        for label, source_name, rate, fmt, dither in CASES:
            source, _ = sources[source_name]
            for quality in qualities:
                key = (label, quality)
                floor_frames = None
                for tool in TOOLS + (METERED,):
                    output = work / f"out-{tool}.wav"
                    stdout = work / f"stdout-{tool}.txt"
                    wall, cpu, rss = run_measured(
                        command_for(tool, binaries, source, output, rate, fmt, quality, dither, GAIN_DB.get(label)),
                        env, stdout, work / "rss.txt")
                    if tool == "floor":
                        floor = json.loads(stdout.read_text())
                        wall, cpu = floor["soxr_wall_seconds"], floor["soxr_cpu_seconds"]
                        floor_frames = floor["frames_out"]
                        # The two-core limit: libsoxr's work and the plain read and write, shared by two cores.
                        samples.setdefault(key, {}).setdefault("limit", []).append(
                            ((wall + floor["io_wall_seconds"]) / 2, (cpu + floor["io_cpu_seconds"]) / 2, 0))
                    if tool == "fennick" and key not in checked:
                        fennick_frames = wav_frames(output)
                    samples.setdefault(key, {}).setdefault(tool, []).append((wall, cpu, rss))
                    output.unlink(missing_ok=True)
                if key not in checked:
                    # Both must have done the same libsoxr work, or the comparison means nothing.
                    if fennick_frames != floor_frames:
                        raise RuntimeError(f"{label} {quality}: fennick wrote {fennick_frames} frames, "
                                           f"the floor produced {floor_frames}")
                    checked.add(key)
    for label, source_name, rate, fmt, dither in CASES:
        for quality in qualities:
            # Untimed: reading /proc as it runs takes some of a core.
            command = command_for("fennick", binaries, sources[source_name][0], work / "out-threads.wav", rate, fmt,
                                  quality, dither, GAIN_DB.get(label))
            samples[(label, quality)]["threads"] = thread_cpu(command, env)
            (work / "out-threads.wav").unlink(missing_ok=True)
    return samples


def count_instructions(command, env, work, soxr_only):
    """Instructions the command executes under callgrind, which the machine's load cannot change:
    the whole process, or with `soxr_only` just those inside libsoxr's calls (for the floor)."""
    profile = work / "callgrind.out"
    toggles = [f"--toggle-collect={name}" for name in ("soxr_create", "soxr_process", "soxr_delete")]
    subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={profile}"]
                   + (toggles if soxr_only else []) + command,
                   check=True, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    summary = next(line for line in profile.read_text().splitlines() if line.startswith("summary:"))
    profile.unlink()
    return int(summary.split()[1])


def instruction_table(binaries, sources, work, qualities, env):
    lines = ["Instructions executed (millions), counted by callgrind on the 20-second inputs: fennick, sox "
             "and ffmpeg whole processes, the floor only inside libsoxr's calls.", "",
             "| case | quality | fennick | floor | sox | ffmpeg | fennick/floor | fennick/sox | fennick/ffmpeg |",
             "|---|---|---:|---:|---:|---:|---:|---:|---:|"]
    for label, source_name, rate, fmt, dither in CASES:
        source, _ = sources[source_name]
        for quality in qualities:
            print(f"counting {label} {quality}", file=sys.stderr)
            output = work / "out-callgrind.wav"
            counts = {}
            for tool in TOOLS:
                command = command_for(tool, binaries, source, output, rate, fmt, quality, dither, GAIN_DB.get(label))
                counts[tool] = count_instructions(command, env, work, soxr_only=tool == "floor")
                output.unlink(missing_ok=True)
            lines.append(f"| {label} | {quality} | " + " | ".join(f"{counts[tool] / 1e6:.0f}" for tool in TOOLS)
                         + " | " + " | ".join(f"{counts['fennick'] / counts[tool]:.2f}" for tool in TOOLS[1:]) + " |")
    return "\n".join(lines) + "\n"


def memory_check(binaries, sources, work, outputs, env):
    """Peak RSS of fennick-convert on the short file and on a file LONG_FACTOR times as long."""
    label, source_name, rate, fmt, _ = MEMORY_CASE
    short, seconds = sources[source_name]
    long = work / f"{source_name}-{seconds * LONG_FACTOR}s.wav"
    output = outputs / "out-memory.wav"
    try:
        subprocess.run(["sox"] + [str(short)] * LONG_FACTOR + [str(long)], check=True)
        results = {}
        for path, length in ((short, seconds), (long, seconds * LONG_FACTOR)):
            command = command_for("fennick", binaries, path, output, rate, fmt, DEFAULT_QUALITY)
            results[length] = run_measured(command, env, os.devnull, work / "rss.txt")[2]
            output.unlink(missing_ok=True)
        return label, results
    finally:
        long.unlink(missing_ok=True)
        output.unlink(missing_ok=True)


def make_batch_folder(work, quick):
    """BATCH_FILES copies of one generated take, each a file of its own."""
    seconds = BATCH_SECONDS[1 if quick else 0]
    folder = work / f"batch-{seconds}s"
    if not folder.exists():
        print(f"generating {folder.name} ({BATCH_FILES} × {seconds} s)", file=sys.stderr)
        partial = work / f"batch-{seconds}s.partial"
        partial.mkdir(exist_ok=True)
        rate, encoding, channels, _, recipe = SOURCES["music44"]
        first = partial / "take01.wav"
        subprocess.run(["sox", "-n", "-r", str(rate), "-c", str(channels)] + encoding
                       + [str(first), "synth", str(seconds)] + recipe.split(), check=True)
        for number in range(2, BATCH_FILES + 1):
            shutil.copyfile(first, partial / f"take{number:02}.wav")
        partial.rename(folder)
    return folder


def batch_command(tool, binary, folder, out):
    if tool.startswith("fennick"):
        return [binary, "-o", str(out), "-j", tool.split()[-1], "-r", str(BATCH_RATE), "-f", BATCH_FORMAT,
                "-q", DEFAULT_QUALITY, "--bandwidth", str(BANDWIDTH), "--overwrite", "--quiet", str(folder)]
    peer = tool.split()[0]
    single = command_for(peer, {}, "$f", "$OUT/$(basename \"$f\")", BATCH_RATE, BATCH_FORMAT, DEFAULT_QUALITY)
    quoted = " ".join('"' + word + '"' if "$" in word else "'" + word + "'" for word in single)
    loop = f'for f in "$IN"/*.wav; do {quoted} || exit 1; done'
    return ["env", f"IN={folder}", f"OUT={out}", "bash", "-c", loop]


def batch_table(binaries, work, outputs, quick, rounds, env):
    folder = make_batch_folder(work, quick)
    for path in folder.iterdir():
        warm_page_cache(path)
    walls = {tool: [] for tool in BATCH_TOOLS}
    for number in range(1, rounds + 1):
        print(f"batch round {number}/{rounds} (load {load_average():.2f})", file=sys.stderr)
        for tool in BATCH_TOOLS:
            out = outputs / "batch-out"
            shutil.rmtree(out, ignore_errors=True)
            out.mkdir()
            command = batch_command(tool, binaries["fennick"], folder, out)
            walls[tool].append(run_measured(command, env, os.devnull, work / "rss.txt")[0])
            if len(list(out.iterdir())) != BATCH_FILES:
                raise RuntimeError(f"{tool} wrote {len(list(out.iterdir()))} files, not {BATCH_FILES}")
            shutil.rmtree(out)
    rate = {tool: BATCH_FILES * 60 / statistics.median(walls[tool]) for tool in BATCH_TOOLS}
    seconds = BATCH_SECONDS[1 if quick else 0]
    lines = [f"Batch: {BATCH_FILES} files of {seconds_text(seconds)}, 44.1 kHz 24-bit stereo to 48 kHz 24-bit at "
             f"{DEFAULT_QUALITY}, {rounds} rounds; files per minute from the median wall time, on "
             f"{os.cpu_count()} cores.", "",
             "| " + " | ".join(BATCH_TOOLS) + " |", "|" + "---:|" * len(BATCH_TOOLS),
             "| " + " | ".join(f"{rate[tool]:.1f}" for tool in BATCH_TOOLS) + " |", ""]
    speedup = rate["fennick -j 2"] / rate["fennick -j 1"]
    over_ffmpeg = rate["fennick -j 2"] / rate["ffmpeg loop"]
    lines += [f"- -j 2 against -j 1: {speedup:.2f}× (target ≥ 1.8: {'met' if speedup >= 1.8 else 'MISSED'})",
              f"- -j 2 against the ffmpeg loop: {over_ffmpeg:.2f}× (target ≥ 2: "
              f"{'met' if over_ffmpeg >= 2 else 'MISSED'})"]
    return "\n".join(lines) + "\n"


def seconds_text(seconds):
    return f"{seconds // 60} min" if seconds >= 120 else f"{seconds} s"


def render(samples, sources, qualities, memory, rounds, loads):
    med = statistics.median
    # The floor runs on one core without I/O, so wall time above its CPU time is time it waited
    # for the processor: how busy the machine was.
    waiting = [wall / cpu for runs in samples.values() for wall, cpu, _ in runs["floor"] if cpu > 0]
    lines = [
        f"{rounds} interleaved rounds; ×RT = audio seconds per wall second, median (min–max); CPU = user + system "
        "seconds, median; fennick/X = ratio of median wall times (below 1: fennick is faster).",
        "1-minute load average at the start of each round: " + ", ".join(f"{load:.2f}" for load in loads[:-1])
        + f"; at the end: {loads[-1]:.2f}. Floor wall/CPU time (1.00 on an idle machine): median "
        f"{med(waiting):.2f}, worst {max(waiting):.2f}.",
        "",
        "| case | quality | fennick ×RT | CPU s | RSS MB | CPU per thread s | floor ×RT | CPU s | sox ×RT | CPU s | ffmpeg ×RT | CPU s "
        "| limit s | fennick/limit | metered/limit | metered/fennick | CPU metered/fennick | fennick/floor | CPU fennick/floor | fennick/sox | fennick/ffmpeg |",
        "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|",
    ]
    ratios = {}
    cpu_ratios = {}
    limit_ratios = {}
    fennick_walls = {}
    floor_ratios = {}  # libsoxr alone against the peers: how close any libsoxr converter can get
    for label, source_name, *_ in CASES:
        audio_seconds = sources[source_name][1]
        for quality in qualities:
            runs = samples[(label, quality)]
            walls = {tool: [wall for wall, _, _ in runs[tool]] for tool in TOOLS}
            cells = [label, quality]
            for tool in TOOLS:
                rtf = [audio_seconds / wall for wall in walls[tool]]
                cell = f"{audio_seconds / med(walls[tool]):.0f} ({min(rtf):.0f}–{max(rtf):.0f})"
                if tool == "ffmpeg" and quality not in FFMPEG_PRECISION:
                    cell += " †"
                cells += [cell, f"{med(cpu for _, cpu, _ in runs[tool]):.2f}"]
                if tool == "fennick":
                    cells.append(f"{max(rss for _, _, rss in runs[tool]) / 1024:.1f}")
                    cells.append(" + ".join(f"{seconds:.2f}" for seconds in runs["threads"]) or "–")
            limit = med(wall for wall, _, _ in runs["limit"])
            limit_ratios[(label, quality)] = med(walls["fennick"]) / limit
            fennick_walls[(label, quality)] = med(walls["fennick"])
            cells += [f"{limit:.2f}", f"{med(walls['fennick']) / limit:.2f}",
                      f"{med(wall for wall, _, _ in runs[METERED]) / limit:.2f}",
                      f"{med(wall for wall, _, _ in runs[METERED]) / med(walls['fennick']):.2f}",
                      f"{med(cpu for _, cpu, _ in runs[METERED]) / med(cpu for _, cpu, _ in runs['fennick']):.2f}"]
            ratio = {tool: med(walls["fennick"]) / med(walls[tool]) for tool in TOOLS[1:]}
            ratios[(label, quality)] = ratio
            floor_ratios[(label, quality)] = {tool: med(walls["floor"]) / med(walls[tool]) for tool in ("sox", "ffmpeg")}
            cpu_ratios[(label, quality)] = med(cpu for _, cpu, _ in runs["fennick"]) / med(
                cpu for _, cpu, _ in runs["floor"])
            cells += [f"{ratio['floor']:.2f}", f"{cpu_ratios[(label, quality)]:.2f}"]
            cells += [f"{ratio[tool]:.2f}" for tool in TOOLS[2:]]
            lines.append("| " + " | ".join(cells) + " |")

    if any(quality not in FFMPEG_PRECISION for quality in qualities):
        lines += ["", "† ffmpeg's soxr resampler has no cubic mode; its cheapest setting (precision=15) is "
                  "a higher quality than quick, so that column is no equal-quality comparison."]
    lines += ["", "Targets:", ""]

    def verdict(ok):
        return "met" if ok else "MISSED"

    if DEFAULT_QUALITY in qualities:
        for label, limit in WALL_TARGETS.items():
            ratio = ratios[(label, DEFAULT_QUALITY)]
            lines.append(f"- {label}, {DEFAULT_QUALITY}: fennick/floor {ratio['floor']:.2f} (target ≤ {limit:.2f}: "
                         f"{verdict(ratio['floor'] <= limit)})" + ("" if label == CASES[4][0] else
                         f"; fennick/ffmpeg {ratio['ffmpeg']:.2f} (target ≤ {FFMPEG_TARGET:.2f}, i.e. 1.5× faster: "
                         f"{verdict(ratio['ffmpeg'] <= FFMPEG_TARGET)})"))
        for label, *_ in CASES:
            target = LIMIT_TARGET_SURROUND if label == CASES[4][0] else LIMIT_TARGET
            ratio = limit_ratios[(label, DEFAULT_QUALITY)]
            speedup = 1 / ratios[(label, DEFAULT_QUALITY)]["ffmpeg"]
            # The shaped case's limit leaves the shaping out: its target is its cost against TPDF, below.
            limit_line = f"fennick/limit {ratio:.2f} " + ("(no target of its own)" if label == SHAPED_CASE
                                                          else f"(target ≤ {target:.2f}: {verdict(ratio <= target)})")
            lines.append(f"- {label}, {DEFAULT_QUALITY}: {limit_line}; ffmpeg/fennick {speedup:.2f} (target ≥ "
                         f"{FFMPEG_SPEEDUP_TARGET}: {verdict(speedup >= FFMPEG_SPEEDUP_TARGET)})")
        worst_cpu = max(cpu_ratios[(label, DEFAULT_QUALITY)] for label, *_ in CASES)
        # Both cases make the same libsoxr calls: the walls alone, as dividing by two noisy floors adds their noise.
        shaped = fennick_walls[(SHAPED_CASE, DEFAULT_QUALITY)] / fennick_walls[(TPDF_CASE, DEFAULT_QUALITY)]
        lines.append(f"- noise shaping at {DEFAULT_QUALITY}: fennick's wall time with --dither shaped / with TPDF "
                     f"{shaped:.3f} (target ≤ {SHAPED_COST_TARGET:.2f}: {verdict(shaped <= SHAPED_COST_TARGET)})")
        lines.append(f"- CPU overhead (fennick CPU / floor CPU) at {DEFAULT_QUALITY}, worst case: {worst_cpu:.2f} "
                     f"(target ≤ {CPU_OVERHEAD_TARGET:.2f}: {verdict(worst_cpu <= CPU_OVERHEAD_TARGET)})")

    def out_of_reach(keys, tool, limit):
        beyond = [f"{label} {quality}" for label, quality in keys if floor_ratios[(label, quality)][tool] > limit]
        return f"; libsoxr alone (the floor) is already above it in {len(beyond)} of {len(keys)}" \
            + (": " + ", ".join(beyond) if beyond else "")

    worst_sox = max(ratio["sox"] for ratio in ratios.values())
    lines.append(f"- fennick/sox, worst case: {worst_sox:.2f} (target ≤ 0.50, i.e. 2× faster: "
                 f"{verdict(worst_sox <= 0.5)})" + out_of_reach(list(ratios), "sox", 0.5))
    if memory:
        label, rss = memory
        (short, short_kib), (long, long_kib) = sorted(rss.items())
        lines.append(f"- peak RSS, {label} at the default quality: {short_kib / 1024:.1f} MB for "
                     f"{seconds_text(short)}, {long_kib / 1024:.1f} MB for {seconds_text(long)} "
                     f"(targets ≤ {RSS_TARGET_MB} MB: {verdict(max(short_kib, long_kib) <= RSS_TARGET_MB * 1024)}; "
                     f"within 2 MB: {verdict(long_kib - short_kib <= 2 * 1024)})")
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", type=pathlib.Path, required=True, help="Release build directory")
    parser.add_argument("--data", type=pathlib.Path, required=True, help="where the inputs are made and kept")
    parser.add_argument("--quick", action="store_true", help="20-second inputs, 2 rounds: for trying the script")
    parser.add_argument("--rounds", type=int, help="interleaved rounds (default 7, or 2 with --quick)")
    parser.add_argument("--qualities", default=",".join(QUALITIES), help="comma-separated, default %(default)s")
    parser.add_argument("--no-memory", action="store_true", help="skip the long-file memory check")
    parser.add_argument("--instructions", action="store_true",
                        help="count instructions with callgrind on the 20-second inputs instead of timing")
    parser.add_argument("--output", type=pathlib.Path, help="also write the table (Markdown) here")
    parser.add_argument("--no-batch", action="store_true", help="skip the batch case")
    parser.add_argument("--only-batch", action="store_true", help="run the batch case alone")
    parser.add_argument("--outputs", type=pathlib.Path,
                        help="where outputs are written (default: a folder in /dev/shm when it has room, "
                        "else the data folder)")
    args = parser.parse_args()

    rounds = args.rounds or (2 if args.quick else 7)
    qualities = [quality for quality in args.qualities.split(",") if quality]
    for quality in qualities:
        if quality not in SOX_RECIPE:
            parser.error(f"unknown quality {quality}")
    binaries = {"fennick": str(args.build / "cli" / "fennick-convert"),
                "floor": str(args.build / "bench" / "fennick-bench-floor"),
                METERED: str(args.build / "cli" / "fennick-convert")}
    for tool in ("sox", "soxi", "ffmpeg", "/usr/bin/time") + (("valgrind",) if args.instructions else ()):
        if shutil.which(tool) is None:
            parser.error(f"{tool} is not installed")

    env = {key: value for key, value in os.environ.items() if key != "SOXR_NUM_THREADS"}
    env["LC_ALL"] = "C"
    short = args.quick or args.instructions
    work = args.data / "quick" if short else args.data
    work.mkdir(parents=True, exist_ok=True)
    sources = {} if args.only_batch else make_sources(work, short, sorted({case[1] for case in CASES}))
    for path, _ in sources.values():
        warm_page_cache(path)

    outputs, made = output_folder(args.outputs, work)
    try:
        table = run_tables(args, binaries, sources, work, outputs, short, rounds, qualities, env)
    finally:
        if made:
            shutil.rmtree(outputs, ignore_errors=True)
    if not args.instructions:
        # Step 3's plot measures the filter on every change of a setting: its time, over all settings.
        print("timing the filter measurement", file=sys.stderr)
        table += "\n\n" + subprocess.run([str(args.build / "bench" / "fennick-bench-filter")], env=env, check=True,
                                         capture_output=True, text=True).stdout.strip() + "\n"
    stamp = datetime.datetime.now().strftime("%Y-%m-%d %H:%M")
    print(f"\n{stamp}\n\n{table}")
    if args.output:
        args.output.write_text(f"{stamp}\n\n{table}")


def output_folder(chosen, work):
    """Where the outputs go, and whether it was made here. Memory by default: written to the disk,
    the same bytes cost from 0.1 to 1.5 s from one run to the next on a virtual machine, which
    measures the disk rather than the converters."""
    if chosen is not None:
        chosen.mkdir(parents=True, exist_ok=True)
        return chosen, False
    shm = pathlib.Path("/dev/shm")
    if shm.is_dir() and shutil.disk_usage(shm).free >= 4 << 30:
        return pathlib.Path(tempfile.mkdtemp(prefix="fennick-bench-", dir=shm)), True
    return work, False


def run_tables(args, binaries, sources, work, outputs, short, rounds, qualities, env):
    print(f"outputs go to {outputs}", file=sys.stderr)
    if args.only_batch:
        return batch_table(binaries, work, outputs, short, rounds, env)
    if args.instructions:
        return instruction_table(binaries, sources, outputs, qualities, env)
    loads = []
    samples = time_cases(binaries, sources, outputs, rounds, qualities, env, loads)
    loads.append(load_average())
    memory = None if args.no_memory else memory_check(binaries, sources, work, outputs, env)
    table = render(samples, sources, qualities, memory, rounds, loads)
    if not args.no_batch:
        table += "\n" + batch_table(binaries, work, outputs, short, rounds, env)
    (work / "samples.json").write_text(json.dumps(
        {f"{label} | {quality}": runs for (label, quality), runs in samples.items()}, indent=1))
    return table

if __name__ == "__main__":
    main()
