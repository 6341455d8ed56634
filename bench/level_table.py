"""The speed targets at every x86-64 level this machine can run, with the level forced.

For each round and each level (QUARVEL_CPU_LEVEL=v4, v3, v2, in an order that rotates from
round to round) it runs the HQVGA depth kernel against its scalar reference, the copy routines
against memcpy of the same bytes (one process each: subject and baseline measured back to
back), and the stand-in phase library against its numpy twin (measured right after it). All
times are CPU time; every figure is the median over the rounds of the per-round ratio. The
load average is noted before and after. Writes bench/levels.json and bench/levels.txt.
Usage: level_table.py BUILD_DIR [ROUNDS]
"""
import json
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import numpy_phase  # noqa: E402

LEVELS = ("v4", "v3", "v2")

# glibc picks its own memcpy (the copies' baseline) and libm builds by the CPU's features; the
# tunable hides the ones a CPU of the forced level lacks, so that the baselines are what such
# a CPU runs too.
AVX512 = "-AVX512F,-AVX512VL,-AVX512BW,-AVX512DQ,-AVX512CD"
GLIBC_HWCAPS = {"v4": "", "v3": AVX512,
                "v2": AVX512 + ",-AVX2,-AVX,-FMA,-F16C,-BMI1,-BMI2,-LZCNT,-MOVBE"}


# numpy chooses its SIMD builds by the CPU as well: NPY_DISABLE_CPU_FEATURES hides the ones a
# CPU of the forced level lacks, so that the numpy twin runs as it would on such a CPU.
NUMPY_AVX512 = "AVX512F AVX512CD AVX512_SKX AVX512_CLX AVX512_CNL AVX512_ICL"
NUMPY_HIDDEN = {"v4": "", "v3": NUMPY_AVX512, "v2": NUMPY_AVX512 + " AVX2 FMA3 F16C AVX"}


def level_environment(level):
    environment = dict(os.environ, QUARVEL_CPU_LEVEL=level)
    if GLIBC_HWCAPS[level]:
        environment["GLIBC_TUNABLES"] = "glibc.cpu.hwcaps=" + GLIBC_HWCAPS[level]
    if NUMPY_HIDDEN[level]:
        environment["NPY_DISABLE_CPU_FEATURES"] = NUMPY_HIDDEN[level]
    return environment

# (figure, subject benchmark, baseline benchmark, ratio kind, target): "faster" is
# baseline time / subject time, "share" is memcpy's time / the routine's time for the same
# output bytes (its speed as a share of memcpy's).
KERNEL_FIGURES = [
    ("HQVGA getPhaseImage", "HqvgaPhaseImage", "HqvgaPhaseImageReference", "faster", 10.0),
    ("HQVGA getRawImages", "HqvgaRawImages", "HqvgaRawImagesReference", "faster", None),
    ("CSI line stride 240x180", "CsiLineStride", "Memcpy/86400", "share", 0.5),
    ("CSI block reorder 640x480", "CsiBlockReorder", "Memcpy/614400", "share", 0.5),
    ("CSI Y12P unpack 640x480", "CsiY12PUnpack", "Memcpy/614400", "share", 0.5),
    ("CSI Y12P unpack 240x180 padded", "CsiY12PUnpackPadded", "Memcpy/86400", "share", 0.5),
    ("USB 10-bit to 12-bit 640x480", "UsbSampleConversion/10", "Memcpy/614400", "share", 0.5),
]
LEVEL_KEYS = {"HQVGA getPhaseImage": "level_hqvga_phase", "CSI Y12P unpack 640x480": "level_y12p",
              "CSI Y12P unpack 240x180 padded": "level_y12p"}


def median(values):
    ordered = sorted(values)
    middle = len(ordered) // 2
    return ordered[middle] if len(ordered) % 2 else 0.5 * (ordered[middle - 1] + ordered[middle])


def kernels_at(build, level, scratch):
    names = {name for _, subject, baseline, _, _ in KERNEL_FIGURES for name in (subject, baseline)}
    pattern = "^(" + "|".join(name for name in sorted(names)) + ")$"
    out = os.path.join(scratch, f"kernels-{level}.json")
    subprocess.run([os.path.join(build, "bench", "quarvel_bench_kernels"),
                    f"--benchmark_filter={pattern}", "--benchmark_min_time=0.2",
                    f"--benchmark_out={out}", "--benchmark_out_format=json"],
                   check=True, stdout=subprocess.DEVNULL, env=level_environment(level))
    report = json.load(open(out))
    times = {}
    for entry in report["benchmarks"]:
        scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3}[entry["time_unit"]]
        times[entry["run_name"]] = entry["cpu_time"] * scale
    return report["context"], times


def phase_library_at(build, level, scratch):
    out = os.path.join(scratch, f"phase-{level}.json")
    subprocess.run([os.path.join(build, "bench", "quarvel_bench_phase"),
                    "--benchmark_min_time=0.3", f"--benchmark_out={out}",
                    "--benchmark_out_format=json"],
                   check=True, stdout=subprocess.DEVNULL, cwd=scratch,
                   env=level_environment(level))
    library = {}
    for entry in json.load(open(out))["benchmarks"]:
        scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3}[entry["time_unit"]]
        library[entry["run_name"]] = entry["cpu_time"] * scale
    # numpy reads NPY_DISABLE_CPU_FEATURES when it is imported: a process of its own.
    timed = subprocess.run([sys.executable, os.path.join(HERE, "numpy_phase.py"), "--timing",
                            scratch], check=True, capture_output=True, text=True,
                           env=level_environment(level))
    numpy_us = json.loads(timed.stdout)
    return {"single": (library["PhaseLibrarySingle"], numpy_us["phase_single_numpy_frame_us"]),
            "dual": (library["PhaseLibraryDual"], numpy_us["phase_dual_numpy_frame_us"])}


def main():
    build = os.path.abspath(sys.argv[1])
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    load_before = os.getloadavg()
    measured = {level: {"kernels": [], "phase": [], "context": None} for level in LEVELS}
    with tempfile.TemporaryDirectory() as scratch:
        # The frames the phase library and its numpy twin both process.
        subprocess.run([os.path.join(build, "bench", "quarvel_bench_phase"),
                        f"--write-vga={scratch}", "--benchmark_filter=^$"], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, cwd=scratch)
        agreement = numpy_phase.agreement(scratch)
        for round_index in range(rounds):
            shift = round_index % len(LEVELS)
            for level in LEVELS[shift:] + LEVELS[:shift]:
                context, times = kernels_at(build, level, scratch)
                measured[level]["context"] = context
                measured[level]["kernels"].append(times)
                measured[level]["phase"].append(phase_library_at(build, level, scratch))
    load_after = os.getloadavg()

    rows = []
    for level in LEVELS:
        context = measured[level]["context"]
        for figure, subject, baseline, kind, target in KERNEL_FIGURES:
            runs = measured[level]["kernels"]
            ratios = [(r[baseline] / r[subject]) for r in runs]
            ran = context.get(LEVEL_KEYS.get(figure, "level_builds"), "?")
            rows.append({"figure": figure, "forced": level, "ran": ran,
                         "us": median([r[subject] for r in runs]),
                         "baseline_us": median([r[baseline] for r in runs]),
                         "baseline": baseline, "kind": kind, "ratio": median(ratios),
                         "ratios": ratios, "target": target})
        for mode in ("single", "dual"):
            runs = measured[level]["phase"]
            ratios = [numpy_us / library_us for library_us, numpy_us in (r[mode] for r in runs)]
            rows.append({"figure": f"Phase library 640x480 {mode} frequency", "forced": level,
                         "ran": context.get("level_builds", "?"),
                         "us": median([r[mode][0] for r in runs]),
                         "baseline_us": median([r[mode][1] for r in runs]),
                         "baseline": "numpy same algorithm", "kind": "faster",
                         "ratio": median(ratios), "ratios": ratios, "target": 10.0})

    lines = [f"Forced levels {', '.join(LEVELS)}; {rounds} rounds; CPU time; medians of the "
             f"per-round ratios; load average {load_before[0]:.1f} before, "
             f"{load_after[0]:.1f} after",
             f"{'figure':40} {'forced':>6} {'ran':>10} {'us':>9} {'baseline us':>12} "
             f"{'ratio':>7} {'min-max':>12}  target"]
    for row in rows:
        target = row["target"]
        if target is None:
            verdict = ""
        else:
            met = row["ratio"] >= target
            label = f">= {target:g}x" if row["kind"] == "faster" else f">= {target:g} of memcpy"
            verdict = f"{label}: {'met' if met else 'MISSED'}"
        spread = f"{min(row['ratios']):.2f}-{max(row['ratios']):.2f}"
        lines.append(f"{row['figure']:40} {row['forced']:>6} {row['ran']:>10} {row['us']:9.1f} "
                     f"{row['baseline_us']:12.1f} {row['ratio']:7.2f} {spread:>12}  {verdict}")
    lines.append("memcpy and libm: glibc's choice for a CPU of the forced level (GLIBC_TUNABLES "
                 "hides the features it lacks); numpy: its builds for such a CPU "
                 "(NPY_DISABLE_CPU_FEATURES). Phase "
                 "library against its numpy twin: " + ", ".join(
                     f"{mode} {agreement[f'phase_{mode}_numpy_max_ulps']:g} ulp apart"
                     for mode in ("single", "dual")))
    text = "\n".join(lines) + "\n"
    with open(os.path.join(HERE, "levels.json"), "w") as out:
        json.dump({"rows": rows, "load_before": load_before, "load_after": load_after,
                   "rounds": rounds, "agreement": agreement}, out, indent=2)
    with open(os.path.join(HERE, "levels.txt"), "w") as out:
        out.write(text)
    print(text)


if __name__ == "__main__":
    main()
