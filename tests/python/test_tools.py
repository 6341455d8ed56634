"""quarvel_tools: the statistics the examples print, with hand-computed answers."""
import math

import numpy as np

from quarvel_tools import frame_statistics as stats


def test_valid_pixels_are_finite_positive_and_lit():
    depth = np.array([[1000.0, 0.0, np.nan, 2000.0]], dtype=np.float32)
    amplitude = np.array([[500.0, 500.0, 500.0, 100.0]], dtype=np.float32)
    valid = stats.valid_mask(depth, amplitude, min_amplitude=150.0)
    assert valid.tolist() == [[True, False, False, False]]
    assert stats.valid_share(valid) == 0.25
    assert stats.valid_share(np.zeros((0, 0), dtype=bool)) == 0.0


def test_centre_distance_is_the_median_of_valid_pixels_in_the_centre_window():
    depth = np.full((9, 9), 5000.0, dtype=np.float32)
    depth[2:7, 2:7] = np.arange(25, dtype=np.float32).reshape(5, 5) * 10
    valid = np.ones_like(depth, dtype=bool)
    assert stats.centre_distance(depth, valid) == 120.0
    valid[2:7, 2:4] = False  # drops 0..1, 5..6, 10..11, 15..16, 20..21 (tens)
    assert stats.centre_distance(depth, valid) == 130.0
    assert math.isnan(stats.centre_distance(depth, np.zeros_like(valid)))


def test_rate_meter_reports_once_per_interval():
    now = [0.0]
    meter = stats.RateMeter(interval_s=1.0, clock=lambda: now[0])
    reports = []
    for _ in range(45):  # 30 frames per second
        now[0] += 1 / 30
        reports.append(meter.tick())
    rates = [rate for rate in reports if rate is not None]
    assert len(rates) == 1 and math.isclose(rates[0], 30.0, rel_tol=0.04)
    assert meter.total_frames == 45 and math.isclose(meter.average(), 30.0)
