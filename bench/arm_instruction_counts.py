"""Counts the instructions the armhf and arm64 builds execute per call of each per-frame
routine, under qemu-user with the counting plugin of bench/qemu/: exact and repeatable, unlike
the emulator's wall-clock time. Each routine runs once and three times on the same inputs;
the difference over two calls is the routine's own count, setup cancelled out.

Writes bench/instruction_counts.json and bench/instruction_counts.txt, prints the table.
Usage: arm_instruction_counts.py ROOT [armhf|arm64 ...]   (trees: ROOT/build-count-<arch>)
"""
import json
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
TRIPLETS = {"armhf": ("arm-linux-gnueabihf", "qemu-arm"),
            "arm64": ("aarch64-linux-gnu", "qemu-aarch64")}
PIXELS = 240 * 180
# Per-pixel targets of the depth kernel against the scalar reference of the same build.
PHASE_TARGETS = {"armhf": 5.0, "arm64": 3.0}
# Copy routines and the memcpy of the same output bytes they are held against (within 2x).
COPIES = [("CSI line stride 240x180", "csi-line-stride", "memcpy-86400"),
          ("CSI block reorder 640x480", "csi-block-reorder", "memcpy-614400"),
          ("CSI Y12P unpack 640x480", "csi-y12p-unpack", "memcpy-614400"),
          ("CSI Y12P unpack 240x180 (padded lines)", "csi-y12p-unpack-padded", "memcpy-86400")]


def build_plugin(root, out_dir):
    plugin = os.path.join(out_dir, "libquarvel_insn_count.so")
    source = os.path.join(HERE, "qemu", "InstructionCountPlugin.c")
    subprocess.run(["cc", "-O2", "-Wall", "-Wextra", "-Werror", "-shared", "-fPIC",
                    "-fvisibility=hidden", "-o", plugin, source], check=True)
    return plugin


def build_tree(root, arch):
    tree = os.path.join(root, f"build-count-{arch}")
    subprocess.run(["cmake", "-S", root, "-B", tree, "-G", "Ninja",
                    f"-DCMAKE_TOOLCHAIN_FILE={root}/cmake/toolchains/{arch}.cmake",
                    "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG",
                    "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG",
                    "-DQUARVEL_BUILD_PYTHON=OFF", "-DQUARVEL_BUILD_BENCH=ON"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", tree, "--target", "quarvel_bench_instructions"],
                   check=True, stdout=subprocess.DEVNULL)
    return os.path.join(tree, "bench", "quarvel_bench_instructions")


def count(arch, program, plugin, routine, repetitions, level=None):
    triplet, qemu = TRIPLETS[arch]
    env = dict(os.environ)
    env.pop("QUARVEL_CPU_LEVEL", None)
    if level:
        env["QUARVEL_CPU_LEVEL"] = level
    result = subprocess.run([qemu, "-L", f"/usr/{triplet}", "-plugin", plugin, "-d", "plugin",
                             program, routine, str(repetitions)],
                            env=env, check=True, capture_output=True, text=True)
    found = re.findall(r"instructions (\d+)", result.stderr)
    if not found:
        raise RuntimeError(f"{arch} {routine}: no count in {result.stderr!r}")
    return int(found[-1])


def per_call(arch, program, plugin, routine, level=None):
    once = count(arch, program, plugin, routine, 1, level)
    thrice = count(arch, program, plugin, routine, 3, level)
    return (thrice - once) / 2


def measure(root, arch, plugin):
    program = build_tree(root, arch)
    calls = {}
    for routine in ["hqvga-phase", "hqvga-phase-reference", "hqvga-raw", "hqvga-raw-reference",
                    "memcpy-86400", "memcpy-614400", "phase-library-single",
                    "phase-library-dual"] + [c[1] for c in COPIES]:
        calls[routine] = per_call(arch, program, plugin, routine)
    # The path of CPUs without NEON (32-bit ARM) or with the vector build refused.
    calls["hqvga-phase-baseline"] = per_call(arch, program, plugin, "hqvga-phase", "baseline")
    rows = []
    reference = calls["hqvga-phase-reference"] / PIXELS
    for label, routine in (("", "hqvga-phase"), (" (baseline build)", "hqvga-phase-baseline")):
        value = calls[routine] / PIXELS
        ratio = reference / value
        target = PHASE_TARGETS[arch] if not label else None
        rows.append({"figure": f"{arch} HQVGA getPhaseImage instructions/pixel{label}",
                     "value": value, "baseline": "scalar reference", "baseline_value": reference,
                     "ratio": ratio, "target": f">= {target:g}x fewer" if target else None,
                     "met": ratio >= target if target else None})
    raw = calls["hqvga-raw"] / PIXELS
    raw_reference = calls["hqvga-raw-reference"] / PIXELS
    rows.append({"figure": f"{arch} HQVGA getRawImages instructions/pixel", "value": raw,
                 "baseline": "scalar reference", "baseline_value": raw_reference,
                 "ratio": raw_reference / raw, "target": None, "met": None})
    for label, routine, baseline in COPIES:
        value = calls[routine]
        ratio = value / calls[baseline]
        rows.append({"figure": f"{arch} {label} instructions/frame", "value": value,
                     "baseline": baseline.replace("-", " ") + " bytes",
                     "baseline_value": calls[baseline], "ratio": ratio,
                     "target": "<= 2x memcpy", "met": ratio <= 2.0})
    for mode in ("single", "dual"):
        rows.append({"figure": f"{arch} phase library 640x480 {mode} instructions/frame",
                     "value": calls[f"phase-library-{mode}"], "baseline": None,
                     "baseline_value": None, "ratio": None, "target": None, "met": None})
    return calls, rows


def text(rows):
    lines = [f"{'figure':58} {'value':>14} {'baseline':>40} {'ratio':>7}  target"]
    for row in rows:
        base = "" if row["baseline_value"] is None else \
            f"{row['baseline']} {row['baseline_value']:.1f}"
        ratio = "" if row["ratio"] is None else f"{row['ratio']:.2f}"
        verdict = "" if row["met"] is None else ("met" if row["met"] else "MISSED")
        lines.append(f"{row['figure']:58} {row['value']:>14.1f} {base:>40} {ratio:>7}  "
                     f"{row['target'] or ''} {verdict}".rstrip())
    return "\n".join(lines)


def main():
    root = os.path.abspath(sys.argv[1])
    architectures = sys.argv[2:] or ["armhf", "arm64"]
    os.makedirs(os.path.join(root, "build-count-plugin"), exist_ok=True)
    plugin = build_plugin(root, os.path.join(root, "build-count-plugin"))
    results = {"calls": {}, "figures": []}
    for arch in architectures:
        calls, rows = measure(root, arch, plugin)
        results["calls"][arch] = calls
        results["figures"] += rows
    with open(os.path.join(HERE, "instruction_counts.json"), "w") as out:
        json.dump(results, out, indent=2)
    table = text(results["figures"])
    with open(os.path.join(HERE, "instruction_counts.txt"), "w") as out:
        out.write(table + "\n")
    print(table)


if __name__ == "__main__":
    main()
