"""Runs every benchmark once and writes bench/results.json and bench/results.txt.

Each figure sits next to its baseline measured in the same run (scalar reference, numpy of
the same formula, memcpy of the same bytes) as a ratio, with the target it must meet.
Usage: run_all.py BUILD_DIR
"""
import json
import os
import platform
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import numpy_baselines  # noqa: E402
import numpy_phase  # noqa: E402


def run_kernels(build, scratch):
    out = os.path.join(scratch, "kernels.json")
    frame = os.path.join(scratch, "hqvga_frame.bin")
    planes = os.path.join(scratch, "hqvga_planes.bin")
    subprocess.run([os.path.join(build, "bench", "quarvel_bench_kernels"),
                    f"--write-hqvga-frame={frame}", f"--write-hqvga-planes={planes}",
                    "--benchmark_min_time=0.3", "--benchmark_repetitions=3",
                    "--benchmark_report_aggregates_only=true",
                    f"--benchmark_out={out}", "--benchmark_out_format=json"],
                   check=True, stdout=subprocess.DEVNULL)
    report = json.load(open(out))
    medians = {}
    for entry in report["benchmarks"]:
        if entry.get("aggregate_name") != "median":
            continue
        scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3}[entry["time_unit"]]
        medians[entry["run_name"]] = {
            "us": entry["cpu_time"] * scale,
            "gbps": entry.get("bytes_per_second", 0.0) / 1e9,
        }
    return report["context"], medians, frame, planes


def run_phase_library(build, scratch, rounds=3):
    """The stand-in phase library and its numpy twin per frame, measured in turns (library,
    numpy, library, numpy, ...) so that both see the same load; per mode the round with the
    median ratio is kept. Also writes the frames and the library's planes, on which the numpy
    twin is checked. Runs in the scratch directory, which holds no ConfigAlgorithm.json: the
    library's defaults."""
    program = os.path.join(build, "bench", "quarvel_bench_phase")
    subprocess.run([program, f"--write-vga={scratch}", "--benchmark_filter=^$"], check=True,
                   stdout=subprocess.DEVNULL, cwd=scratch)
    out = os.path.join(scratch, "phase.json")
    measured = []
    for _ in range(rounds):
        subprocess.run([program, "--benchmark_min_time=0.3", f"--benchmark_out={out}",
                        "--benchmark_out_format=json"],
                       check=True, stdout=subprocess.DEVNULL, cwd=scratch)
        library = {}
        for entry in json.load(open(out))["benchmarks"]:
            scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3}[entry["time_unit"]]
            library[entry["run_name"]] = entry["cpu_time"] * scale
        measured.append((library, numpy_phase.timing(scratch)))
    chosen = {}
    for mode, name in (("single", "PhaseLibrarySingle"), ("dual", "PhaseLibraryDual")):
        key = f"phase_{mode}_numpy_frame_us"
        ranked = sorted(measured, key=lambda pair: pair[1][key] / pair[0][name])
        library, numpy_times = ranked[len(ranked) // 2]
        chosen[mode] = {"library_us": library[name], "numpy_us": numpy_times[key],
                        "rounds": [[l[name], n[key]] for l, n in measured]}
    return chosen, numpy_phase.agreement(scratch)


def run_pipeline(build, scratch):
    out = os.path.join(scratch, "pipeline.json")
    subprocess.run([os.path.join(build, "bench", "quarvel_bench_pipeline"), "--seconds=3",
                    f"--out={out}"], check=True, stdout=subprocess.DEVNULL)
    return json.load(open(out))


def depth_filters(build):
    """Rows of filter_baselines.py (quarvel.geometry against numpy and OpenCV), or the reason
    they are missing."""
    script = os.path.join(HERE, "filter_baselines.py")
    environment = dict(os.environ, PYTHONPATH=os.path.join(build, "python"))
    result = subprocess.run([sys.executable, script, "--json"], capture_output=True, text=True,
                            env=environment)
    if result.returncode != 0:
        return None, result.stderr.strip().splitlines()[-1] if result.stderr else "failed"
    return json.loads(result.stdout), None


def python_consumer(build):
    script = os.path.join(HERE, "python_consumer.py")
    if not os.path.exists(script):
        return None, "not benchmarked yet: the module cannot be handed a replaying sensor"
    result = subprocess.run([sys.executable, script, build], capture_output=True, text=True)
    if result.returncode != 0:
        return None, (result.stderr.strip().splitlines() or ["failed"])[-1]
    return json.loads(result.stdout), None


def simulated_pacing(build):
    """Delivered rate and timestamps of the simulated cameras over 10 s each."""
    result = subprocess.run([sys.executable, os.path.join(HERE, "pacing.py"), build, "10"],
                            capture_output=True, text=True)
    if result.returncode != 0:
        return None, (result.stderr.strip().splitlines() or ["failed"])[-1]
    return json.loads(result.stdout), None


def viewer_cpu(build):
    """CPU share of the viewer's server while one client receives 30 fps (10 s)."""
    result = subprocess.run([sys.executable, os.path.join(HERE, "viewer_cpu.py"), build, "10"],
                            capture_output=True, text=True)
    if result.returncode != 0:
        return None, (result.stderr.strip().splitlines() or ["failed"])[-1]
    return json.loads(result.stdout), None


class Table:
    def __init__(self, levels):
        self.rows = []
        self.levels = levels  # which build each kind of routine ran (level_* keys)

    def add(self, name, value, unit, baseline_name, baseline, ratio, target=None, met=None,
            level="-"):
        self.rows.append({"figure": name, "value": value, "unit": unit,
                          "baseline": baseline_name, "baseline_value": baseline,
                          "ratio": ratio, "target": target, "met": met,
                          "level": self.levels.get(level, level)})

    def missing(self, name, reason):
        self.rows.append({"figure": name, "value": None, "unit": "", "baseline": "",
                          "baseline_value": None, "ratio": None, "target": None,
                          "met": None, "missing": reason})

    def text(self):
        lines = [f"{'figure':44} {'level':>10} {'value':>12} {'baseline':>34} {'ratio':>8}  target"]
        for row in self.rows:
            if row.get("missing"):
                lines.append(f"{row['figure']:44} {'':>10} {'n/a':>12}   {row['missing']}")
                continue
            value = f"{row['value']:.3f} {row['unit']}"
            base = "" if row["baseline_value"] is None else \
                f"{row['baseline']} {row['baseline_value']:.3f}"
            ratio = "" if row["ratio"] is None else f"{row['ratio']:.2f}"
            verdict = "" if row["met"] is None else ("met" if row["met"] else "MISSED")
            target = row["target"] or ""
            lines.append(f"{row['figure']:44} {row['level']:>10} {value:>12} {base:>34} {ratio:>8}  "
                         f"{target} {verdict}")
        return "\n".join(lines)


def main():
    build = os.path.abspath(sys.argv[1])
    started = time.time()
    load_before = os.getloadavg()
    with tempfile.TemporaryDirectory() as scratch:
        context, k, frame, planes = run_kernels(build, scratch)
        # The level each run-time choice made, as the kernel benchmark reports it. The
        # phase library chooses among the same builds by the same rule as the copies; the
        # depth filters keep loader-chosen clones, which QUARVEL_CPU_LEVEL does not reach.
        levels = {key: context.get(f"level_{key}", "?")
                  for key in ("hqvga_phase", "y12p", "builds")}
        levels["clones"] = "CPU's best"
        table = Table(levels)
        numpy_result = numpy_baselines.main(frame, planes)
        phase, phase_numpy = run_phase_library(build, scratch)
        pipeline = run_pipeline(build, scratch)
    consumer, consumer_missing = python_consumer(build)
    filters, filters_missing = depth_filters(build)
    pacing, pacing_missing = simulated_pacing(build)
    viewer, viewer_missing = viewer_cpu(build)

    # 240x180 depth.
    fast = k["HqvgaPhaseImage"]["us"]
    reference = k["HqvgaPhaseImageReference"]["us"]
    numpy_us = numpy_result["hqvga_numpy_frame_us"]
    frame_copy = k["Memcpy/345600"]["us"]
    table.add("hqvga getPhaseImage", fast, "us/frame", "scalar reference us", reference,
              reference / fast, ">= 10x faster", reference / fast >= 10, level="hqvga_phase")
    table.add("hqvga getPhaseImage vs numpy", fast, "us/frame", "numpy same formula us",
              numpy_us, numpy_us / fast, ">= 12x faster", numpy_us / fast >= 12,
              level="hqvga_phase")
    table.add("hqvga getPhaseImage vs memcpy", fast, "us/frame", "memcpy raw frame us",
              frame_copy, fast / frame_copy, "(times memcpy)", level="hqvga_phase")
    for name, entry in k.items():
        if name.startswith("HqvgaPhaseImageBuild/"):
            table.add("hqvga getPhaseImage build " + name.split("/", 1)[1], entry["us"],
                      "us/frame", "scalar reference us", reference, reference / entry["us"],
                      level=name.split("/", 1)[1])
    raw_fast = k["HqvgaRawImages"]["us"]
    raw_reference = k["HqvgaRawImagesReference"]["us"]
    table.add("hqvga getRawImages", raw_fast, "us/frame", "scalar reference us", raw_reference,
              raw_reference / raw_fast, level="builds")
    table.add("hqvga getRawImages vs memcpy", k["HqvgaRawImages"]["gbps"], "GB/s",
              "memcpy GB/s", k["Memcpy/345600"]["gbps"],
              k["HqvgaRawImages"]["gbps"] / k["Memcpy/345600"]["gbps"], "(share of memcpy)",
              level="builds")

    # Transport copies, per sub-frame, against memcpy of the same output bytes.
    copies = [("csi line stride 240x180", "CsiLineStride", "Memcpy/86400"),
              ("csi block reorder 640x480", "CsiBlockReorder", "Memcpy/614400"),
              ("csi Y12P unpack 640x480", "CsiY12PUnpack", "Memcpy/614400"),
              ("csi Y12P unpack 240x180 padded", "CsiY12PUnpackPadded", "Memcpy/86400"),
              ("usb 8-bit to 12-bit 640x480", "UsbSampleConversion/8", "Memcpy/614400"),
              ("usb 10-bit to 12-bit 640x480", "UsbSampleConversion/10", "Memcpy/614400"),
              ("usb 12-bit copy 640x480", "UsbSampleConversion/12", "Memcpy/614400"),
              ("usb 14-bit to 12-bit 640x480", "UsbSampleConversion/14", "Memcpy/614400")]
    for label, name, base in copies:
        if name not in k:
            table.missing(label, "routine not in this tree")
            continue
        ratio = k[name]["gbps"] / k[base]["gbps"]
        table.add(label, k[name]["gbps"], "GB/s", "memcpy GB/s", k[base]["gbps"], ratio,
                  ">= 0.5 of memcpy", ratio >= 0.5, level="y12p" if "Y12P" in name else "builds")

    # Y12P with the source not in the cache (a buffer just written by DMA), against memcpy
    # of the same output bytes from sources not in the cache either.
    cold = k["CsiY12PUnpackPaddedColdSource"]["gbps"]
    cold_copy = k["MemcpyColdSource/86400"]["gbps"]
    table.add("csi Y12P unpack 240x180 padded, cold source", cold, "GB/s",
              "memcpy cold source GB/s", cold_copy, cold / cold_copy, "(share of memcpy)",
              level="y12p")

    # The stand-in phase library against numpy of the same algorithm (checked to agree).
    for mode in ("single", "dual"):
        library_us = phase[mode]["library_us"]
        numpy_us = phase[mode]["numpy_us"]
        table.add(f"phase library 640x480 {mode} frequency", library_us, "us/frame",
                  "numpy same algorithm us", numpy_us, numpy_us / library_us,
                  ">= 10x faster", numpy_us / library_us >= 10, level="builds")

    # Whole pipeline.
    bare = pipeline["bare_frame_us"]
    unpaced, paced = pipeline["unpaced"], pipeline["paced30"]
    table.add("pipeline hqvga depth fps, C++ consumer", unpaced["fps"], "frames/s",
              "bare copy+compute frames/s", 1e6 / bare, unpaced["fps"] / (1e6 / bare),
              level="hqvga_phase")
    table.add("latency hand-over->requestFrame median", unpaced["latency_median_us"], "us",
              "bare compute us", bare, unpaced["latency_median_us"] / bare)
    table.add("latency hand-over->requestFrame p99", unpaced["latency_p99_us"], "us",
              "bare compute us", bare, unpaced["latency_p99_us"] / bare)
    table.add("latency at paced 30 fps median", paced["latency_median_us"], "us",
              "bare compute us", bare, paced["latency_median_us"] / bare)
    table.add("latency at paced 30 fps p99", paced["latency_p99_us"], "us",
              "bare compute us", bare, paced["latency_p99_us"] / bare)
    share = 100 * paced["capture_cpu_share"]
    table.add("capture thread CPU at paced 30 fps", share, "% core",
              "bare work % core", 30 * bare / 1e4, None, "< 2 %", share < 2)
    allocations = max(unpaced["allocations_per_frame"], paced["allocations_per_frame"])
    table.add("heap allocations per frame (core)", allocations, "allocs", "target", 0.0, None,
              "0", allocations == 0)
    if consumer:
        table.add("pipeline hqvga depth fps, Python consumer", consumer["fps"], "frames/s",
                  "C++ consumer frames/s", unpaced["fps"], consumer["fps"] / unpaced["fps"],
                  ">= 1000", consumer["fps"] >= 1000, level="hqvga_phase")
        table.add("Python latency median", consumer["latency_median_us"], "us",
                  "C++ consumer us", unpaced["latency_median_us"], None, "< 1000 us",
                  consumer["latency_median_us"] < 1000)
        table.add("Python latency p99", consumer["latency_p99_us"], "us",
                  "C++ consumer us", unpaced["latency_p99_us"], None)
    else:
        table.missing("pipeline hqvga depth fps, Python consumer", consumer_missing)

    # Depth filters of quarvel.geometry, per frame, against numpy (and OpenCV) of the same rule.
    if filters:
        for row in filters:
            label = f"filter {row['filter']} {row['size']}"
            ratio = row["numpy_us"] / row["quarvel_us"]
            table.add(label, row["quarvel_us"], "us/frame", "numpy same filter us",
                      row["numpy_us"], ratio, ">= 5x faster", ratio >= 5, level="clones")
            if row["opencv_us"] is not None:
                table.add(label + " vs OpenCV", row["quarvel_us"], "us/frame",
                          "OpenCV same filter us", row["opencv_us"],
                          row["opencv_us"] / row["quarvel_us"], ">= 5x faster",
                          row["opencv_us"] / row["quarvel_us"] >= 5, level="clones")
    else:
        table.missing("depth filters", filters_missing)

    # The simulated cameras keep time: delivered rate and timestamps against the configured
    # rate over 10 s, and timestamps never ahead of arrival.
    if pacing:
        for name, figures in pacing.items():
            configured = figures["configured_fps"]
            for kind in ("wall", "stamped"):
                off = abs(figures[f"{kind}_fps"] / configured - 1)
                table.add(f"simulated {name} {kind} fps over 10 s", figures[f"{kind}_fps"],
                          "frames/s", "configured frames/s", configured,
                          figures[f"{kind}_fps"] / configured, "within 1 %", off <= 0.01)
            table.add(f"simulated {name} timestamp drift over 10 s", figures["drift_ms"], "ms",
                      "smallest arrival - timestamp ms", figures["min_lag_ms"], None,
                      "never ahead of arrival", figures["min_lag_ms"] >= 0)
    else:
        table.missing("simulated camera pacing", pacing_missing)

    # The live viewer's server at 30 fps with one client: the whole process (the simulated
    # camera synthesises its frames in it) against the same camera read by plain Python.
    if viewer:
        table.add("viewer server CPU, 30 fps, one client", 100 * viewer["server_share"],
                  "% core", "camera alone % core", 100 * viewer["camera_alone_share"], None,
                  "< 10 % of a core", viewer["server_share"] < 0.10)
    else:
        table.missing("viewer server CPU", viewer_missing)

    results = {
        "machine": {"cpu": platform.processor() or platform.machine(),
                    "cores": os.cpu_count(), "python": platform.python_version(),
                    "numpy": numpy_baselines.np.__version__,
                    "benchmark_context": context},
        "numpy_output_identical_to_library": numpy_result["hqvga_numpy_identical"],
        "phase_numpy_agreement": phase_numpy,
        "figures": table.rows,
        "raw": {"kernels": k, "pipeline": pipeline, "numpy": numpy_result,
                "phase_library_and_numpy_us": phase,
                "python_consumer": consumer, "depth_filters": filters,
                "pacing": pacing, "viewer": viewer},
        "seconds": time.time() - started,
        "forced_level": os.environ.get("QUARVEL_CPU_LEVEL", ""),
        "load_average": [load_before[0], os.getloadavg()[0]],
    }
    with open(os.path.join(HERE, "results.json"), "w") as out:
        json.dump(results, out, indent=2)
    agreement = ", ".join(
        f"{mode} largest difference {phase_numpy[f'phase_{mode}_numpy_max_ulps']:g} ulp, "
        f"{100 * phase_numpy[f'phase_{mode}_numpy_identical_share']:.2f} % bit-identical"
        for mode in ("single", "dual"))
    text = table.text() + (f"\n\nnumpy output identical to the library's: "
                           f"{numpy_result['hqvga_numpy_identical']}; "
                           f"phase library against its numpy twin: {agreement}; "
                           f"whole run {results['seconds']:.0f} s; "
                           f"QUARVEL_CPU_LEVEL={results['forced_level'] or '(unset)'}; "
                           f"load average {load_before[0]:.1f} before, "
                           f"{results['load_average'][1]:.1f} after; memcpy is glibc's own "
                           f"choice for this CPU (the cap does not reach it)\n")
    with open(os.path.join(HERE, "results.txt"), "w") as out:
        out.write(text)
    print(text)


if __name__ == "__main__":
    main()
