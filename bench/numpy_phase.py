"""The stand-in phase library's algorithm in numpy, as a Python user would write it.

Same steps and the same float32 arithmetic in the same order as sdk/phase/src (decode,
spatial box filters, temporal filters, polynomial phase, dual-frequency unwrapping,
confidence and validity), with the library's default parameters. `main` runs it on the
frames the benchmark program wrote, checks each plane against the library's output and
times it per frame.
"""
import json
import sys
import time

import numpy as np

F = np.float32
WIDTH, HEIGHT = 640, 480
SAMPLE_MAX = 4095
BLOCKS_PER_FREQUENCY = 5
# Default parameters (ConfigAlgorithm.json absent).
DEPTH_RADIUS, GRAY_RADIUS = 2, 1       # spatial denoise levels 3 and 1
DEPTH_WEIGHT, GRAY_WEIGHT = F(1) / F(4), F(1) / F(2)  # temporal denoise levels 3 and 1
VALID_MIN, VALID_MAX, THRESHOLD = F(0), F(7000), F(0.25)
READ_NOISE_SQUARED, HALF_SNR, RESET_RATIO = F(16), F(2), F(0.3)
PI, HALF_PI, TWO_PI = F(3.14159265358979), F(1.57079632679490), F(6.28318530717959)
FIRST_RANGE, SECOND_RANGE, COMBINED_RANGE = F(1500), F(2250), F(4500)
FIRST_WEIGHT = (SECOND_RANGE * SECOND_RANGE) / (FIRST_RANGE * FIRST_RANGE +
                                                SECOND_RANGE * SECOND_RANGE)
SECOND_WEIGHT = F(1) - FIRST_WEIGHT
ATAN = [F(-0.01172120), F(0.05265332), F(-0.11643287), F(0.19354346), F(-0.33262347),
        F(0.99997726)]


def box_filter(plane, radius):
    """Mean over the window clipped symmetrically at the borders: rows, then columns."""
    if radius <= 0:
        return plane
    height, width = plane.shape
    rows = np.empty_like(plane)
    inner = width - 2 * radius
    acc = plane[:, 0:inner].copy()
    for k in range(1, 2 * radius + 1):
        acc += plane[:, k:k + inner]
    rows[:, radius:width - radius] = acc * (F(1) / F(2 * radius + 1))
    for x in list(range(radius)) + list(range(width - radius, width)):
        r = min(x, width - 1 - x)
        total = np.zeros(height, F)
        for k in range(-r, r + 1):
            total += plane[:, x + k]
        rows[:, x] = total / F(2 * r + 1)
    out = np.empty_like(plane)
    inner = height - 2 * radius
    acc = rows[0:inner].copy()
    for k in range(1, 2 * radius + 1):
        acc += rows[k:k + inner]
    out[radius:height - radius] = acc * (F(1) / F(2 * radius + 1))
    for y in list(range(radius)) + list(range(height - radius, height)):
        r = min(y, height - 1 - y)
        total = rows[y - r].copy()
        for k in range(-r + 1, r + 1):
            total += rows[y + k]
        out[y] = total * (F(1) / F(2 * r + 1))
    return out


def phase_angle(y, x):
    """Angle of (x, y) in [0, 2 pi] by the library's polynomial; 0 for the null vector."""
    ax, ay = np.abs(x), np.abs(y)
    larger, smaller = np.maximum(ax, ay), np.minimum(ax, ay)
    a = np.divide(smaller, larger, out=np.zeros_like(larger), where=larger > 0)
    s = a * a
    r = np.full_like(a, ATAN[0])
    for c in ATAN[1:]:
        r = r * s + c
    r *= a
    r = np.where(ay > ax, HALF_PI - r, r)
    r = np.where(x < 0, PI - r, r)
    return np.where(y < 0, TWO_PI - r, r)


def wrapped_distance(i, q, range_mm):
    d = phase_angle(q, i) * (range_mm / TWO_PI)  # no calibration: offset 0
    d = np.where(d < 0, d + range_mm, d)
    return np.where(d >= range_mm, d - range_mm, d)


class PhaseLibrary:
    """One started stream: the temporal filters' state lives here."""

    def __init__(self, dual):
        self.frequencies = 2 if dual else 1
        self.ranges = [FIRST_RANGE, SECOND_RANGE] if dual else [F(1250)]
        self.filtered = None
        self.amplitude_filtered = None

    def process(self, raw):
        blocks = raw.reshape(BLOCKS_PER_FREQUENCY * self.frequencies, HEIGHT + 1, WIDTH)
        samples = blocks[:, 1:, :] & 0x0FFF
        share = F(1) / F(self.frequencies)
        correlation, amplitude, grey, clipped = [], 0, 0, False
        for f in range(self.frequencies):
            c = samples[5 * f:5 * f + 5].astype(np.int32)
            clip = (c[:4] == SAMPLE_MAX).any(axis=0)
            i = np.where(clip, F(0), (c[0] - c[2]).astype(F))
            q = np.where(clip, F(0), (c[3] - c[1]).astype(F))
            amplitude = amplitude + F(0.5) * np.sqrt(i * i + q * q) * share
            grey = grey + c[4].astype(F) * share
            clipped = clipped | clip
            correlation.append([box_filter(i, DEPTH_RADIUS), box_filter(q, DEPTH_RADIUS)])
        self.blend(correlation)
        amplitude = self.blend_amplitude(box_filter(amplitude, GRAY_RADIUS))
        return self.finish(grey, clipped, amplitude)

    def blend(self, correlation):
        if self.filtered is None:
            self.filtered = [[i.copy(), q.copy()] for i, q in correlation]
            return
        ratio = RESET_RATIO * RESET_RATIO
        for (x, y), state in zip(correlation, self.filtered):
            dx, dy = x - state[0], y - state[1]
            reset = dx * dx + dy * dy > ratio * (x * x + y * y)
            state[0] = np.where(reset, x, state[0] + DEPTH_WEIGHT * dx)
            state[1] = np.where(reset, y, state[1] + DEPTH_WEIGHT * dy)

    def blend_amplitude(self, now):
        if self.amplitude_filtered is None:
            self.amplitude_filtered = now.copy()
        else:
            difference = now - self.amplitude_filtered
            reset = np.abs(difference) > RESET_RATIO * now
            self.amplitude_filtered = np.where(reset, now, self.amplitude_filtered +
                                               GRAY_WEIGHT * difference)
        return self.amplitude_filtered

    def finish(self, grey, clipped, amplitude):
        (i0, q0) = self.filtered[0]
        d1 = wrapped_distance(i0, q0, self.ranges[0])
        if self.frequencies == 2:
            (i1, q1) = self.filtered[1]
            d2 = wrapped_distance(i1, q1, self.ranges[1])
            shifted = np.minimum(np.maximum((d1 - d2) / (FIRST_RANGE / F(2)) + F(3.5), F(0)),
                                 F(5))
            m = shifted.astype(np.int32).astype(F) - F(3)
            n2 = np.where(m == F(-3), F(-1), np.where(np.abs(m) == F(1), F(1), F(0)))
            n1 = (F(3) * n2 - m) * F(0.5)
            distance = (FIRST_WEIGHT * (d1 + n1 * FIRST_RANGE) +
                        SECOND_WEIGHT * (d2 + n2 * SECOND_RANGE))
            distance = np.where(distance < 0, distance + COMBINED_RANGE, distance)
            distance = np.where(distance >= COMBINED_RANGE, distance - COMBINED_RANGE, distance)
            modulation = F(0.25) * (np.sqrt(i0 * i0 + q0 * q0) + np.sqrt(i1 * i1 + q1 * q1))
        else:
            distance = d1
            modulation = F(0.5) * np.sqrt(i0 * i0 + q0 * q0)
        snr = modulation / np.sqrt(grey + READ_NOISE_SQUARED)
        confidence = np.where(clipped, F(0), snr / (snr + HALF_SNR))
        valid = (~clipped & (confidence >= THRESHOLD) & (distance >= VALID_MIN) &
                 (distance <= VALID_MAX))
        return np.where(valid, distance, F(0)), amplitude, confidence


def compare(ours, library):
    """Largest difference in units of the library value's float spacing, and identical share."""
    ulps = np.abs(ours.astype(np.float64) - library) / np.spacing(np.abs(library).astype(F))
    return float(ulps.max()), float(np.mean(ours.view(np.uint32) == library.view(np.uint32)))


def load_mode(directory, name):
    dual = name == "dual"
    blocks = 10 if dual else 5
    frame_samples = blocks * (HEIGHT + 1) * WIDTH
    raw = np.fromfile(f"{directory}/{name}_raw.bin", dtype="<u2").reshape(-1, frame_samples)
    library = np.fromfile(f"{directory}/{name}_planes.bin", dtype=F).reshape(
        len(raw), 3, HEIGHT, WIDTH)
    return dual, raw, library


def agreement(directory):
    """The same frames in the same order from a fresh start: per mode, the largest difference
    from the library's planes in units of float spacing, and the share of identical values."""
    result = {}
    for name in ("single", "dual"):
        dual, raw, library = load_mode(directory, name)
        ours = PhaseLibrary(dual)
        worst_ulps, identical = 0.0, []
        for n, frame in enumerate(raw):
            for plane, theirs in zip(ours.process(frame), library[n]):
                ulps, same = compare(plane, theirs)
                worst_ulps = max(worst_ulps, ulps)
                identical.append(same)
        result[f"phase_{name}_numpy_max_ulps"] = worst_ulps
        result[f"phase_{name}_numpy_identical_share"] = float(np.mean(identical))
    return result


def timing(directory, repeats=3):
    """CPU microseconds per frame per mode (median of `repeats` passes over the frames), as
    the library's figure is CPU time too."""
    result = {}
    for name in ("single", "dual"):
        dual, raw, _ = load_mode(directory, name)
        timed = PhaseLibrary(dual)
        timed.process(raw[0])
        times = []
        for _ in range(repeats):
            start = time.process_time()
            for frame in raw:
                timed.process(frame)
            times.append((time.process_time() - start) / len(raw))
        times.sort()
        result[f"phase_{name}_numpy_frame_us"] = times[len(times) // 2] * 1e6
    return result


def main(directory):
    result = agreement(directory)
    result.update(timing(directory))
    return result


if __name__ == "__main__":
    if sys.argv[1] == "--timing":
        print(json.dumps(timing(sys.argv[2])))
    else:
        print(main(sys.argv[1]))
