"""3D geometry of the quarvel package, end to end through the simulated camera: point clouds
with known answers, the filters against plain numpy definitions, PLY read back independently."""
import math
import shutil
import subprocess

import numpy as np
import pytest

import quarvel
from quarvel import geometry, simulation
from conftest import WALL_DISTANCE_MM, write_camera_config, write_wall_config


def mean_depth(config, frames=4):
    """Mean depth and amplitude of a few frames of the simulated camera `config`."""
    with quarvel.open(config) as camera:
        taken = list(camera.frames(count=frames))
    return (np.mean([f.depth for f in taken], axis=0, dtype=np.float64).astype(np.float32),
            np.mean([f.amplitude for f in taken], axis=0, dtype=np.float64).astype(np.float32))


def fit_plane(points):
    """Unit normal (towards +z), offset and RMS residual of the best plane through points."""
    centroid = points.mean(axis=0)
    _, _, vt = np.linalg.svd(points - centroid, full_matrices=False)
    normal = vt[2] if vt[2][2] > 0 else -vt[2]
    residual = (points - centroid) @ normal
    return normal, float(centroid @ normal), float(np.sqrt(np.mean(residual ** 2)))


def fit_sphere(points):
    """Centre and radius: x.x = 2 c.x + (r^2 - c.c), linear least squares."""
    a = np.hstack([2 * points, np.ones((len(points), 1))])
    b = (points ** 2).sum(axis=1)
    solution, *_ = np.linalg.lstsq(a, b, rcond=None)
    centre = solution[:3]
    return centre, math.sqrt(solution[3] + centre @ centre)


class TestPointClouds:
    def test_the_noiseless_wall_is_a_plane_facing_the_camera(self, tmp_path):
        depth, _ = mean_depth(write_wall_config(tmp_path, fps=60), frames=1)
        points = geometry.point_cloud(depth, simulation.exact_intrinsics(), units="mm")
        assert points.shape == (180, 240, 3) and points.dtype == np.float32
        normal, offset, rms = fit_plane(points.reshape(-1, 3).astype(np.float64))
        assert rms < 1.0
        assert math.degrees(math.acos(normal[2])) < 0.1
        assert offset == pytest.approx(WALL_DISTANCE_MM, abs=1.0)
        # Metres are the default unit; z, not the ray's length, is the wall's distance.
        metres = geometry.point_cloud(depth, simulation.exact_intrinsics())
        np.testing.assert_allclose(metres, points / 1000, rtol=1e-6)
        assert np.linalg.norm(points[0, 0]) > 1.2 * WALL_DISTANCE_MM

    def test_sphere_and_box_of_the_standard_scene_are_at_their_true_places(self, tmp_path):
        config = write_camera_config(tmp_path, fps=60)  # noise on
        depth, amplitude = mean_depth(config, frames=4)
        cloud = geometry.point_cloud(depth, simulation.exact_intrinsics(), units="mm")
        points = cloud.reshape(-1, 3).astype(np.float64)
        centre = np.array(simulation.SPHERE_CENTRE_MM)
        near_sphere = points[np.linalg.norm(points - centre, axis=1) < 300]
        fitted_centre, radius = fit_sphere(near_sphere)
        # Noise of a few millimetres per pixel averages out over thousands of points.
        np.testing.assert_allclose(fitted_centre, centre, atol=5.0)
        assert radius == pytest.approx(simulation.SPHERE_RADIUS_MM, abs=5.0)

        yaw = math.radians(simulation.BOX_YAW_DEGREES)
        local = points - np.array(simulation.BOX_CENTRE_MM)
        x = math.cos(yaw) * local[:, 0] - math.sin(yaw) * local[:, 2]
        z = math.sin(yaw) * local[:, 0] + math.cos(yaw) * local[:, 2]
        chebyshev = np.max(np.abs(np.stack([x, local[:, 1], z])), axis=0)
        on_box = (chebyshev < 260) & (local[:, 1] < 200)
        assert on_box.sum() > 3000
        face_error = np.abs(chebyshev[on_box] - simulation.BOX_HALF_SIZE_MM)
        assert np.median(face_error) < 5.0

    def test_dense_cloud_keeps_valid_points_with_their_amplitude(self):
        intrinsics = geometry.Intrinsics.nominal(4, 3)
        depth = np.full((3, 4), 1000, np.float32)
        depth[1, 2] = 0
        depth[2, 0] = np.nan
        amplitude = np.arange(12, dtype=np.float32).reshape(3, 4)
        points, amplitudes = geometry.point_cloud(depth, intrinsics, organised=False,
                                                  amplitude=amplitude)
        assert points.shape == (10, 3)
        assert list(amplitudes) == [0, 1, 2, 3, 4, 5, 7, 9, 10, 11]
        np.testing.assert_allclose(np.linalg.norm(points, axis=1), 1.0, rtol=1e-6)
        organised = geometry.point_cloud(depth, intrinsics)
        assert np.isnan(organised[1, 2]).all() and np.isnan(organised[2, 0]).all()
        buffer = np.empty((3, 4, 3), np.float32)
        assert geometry.point_cloud(depth, intrinsics, out=buffer) is buffer
        with pytest.raises(ValueError):
            geometry.point_cloud(depth, intrinsics, out=np.empty((3, 4, 3), np.float64))
        with pytest.raises(ValueError):
            geometry.point_cloud(np.zeros((4, 4), np.float32), intrinsics)


class TestIntrinsics:
    def test_simulated_lens_is_the_nominal_one_and_camera_info_round_trips(self, tmp_path):
        exact = simulation.exact_intrinsics("vga")
        nominal = geometry.intrinsics_for(640, 480)
        assert (exact.fx, exact.fy, exact.cx, exact.cy) == pytest.approx(
            (nominal.fx, nominal.fy, nominal.cx, nominal.cy))
        assert geometry.field_of_view_degrees(nominal)[0] == pytest.approx(64.0)
        lens = geometry.Intrinsics(640, 480, 510.0, 509.0, 318.0, 241.5,
                                   [-0.2, 0.05, 0.001, 0.002, -0.01])
        path = tmp_path / "vga.yaml"
        geometry.write_camera_info(path, lens)
        read = geometry.intrinsics_for(640, 480, calibration=path)
        assert (read.fx, read.fy, read.cx, read.cy) == (510.0, 509.0, 318.0, 241.5)
        assert read.distortion == [-0.2, 0.05, 0.001, 0.002, -0.01]
        u, v = read.project(*read.unproject(12.0, 470.0))
        assert (u, v) == pytest.approx((12.0, 470.0), abs=1e-3)
        with pytest.raises(ValueError, match="calibrated for 640x480"):
            geometry.intrinsics_for(240, 180, calibration=path)


def numpy_flying(depth, step):
    """The flying-pixel rule written with numpy: both neighbours on a line are far."""
    padded = np.pad(depth, 1)
    centre = depth
    far = {}
    height, width = depth.shape
    for dy in (-1, 0, 1):
        for dx in (-1, 0, 1):
            neighbour = padded[1 + dy:1 + dy + height, 1 + dx:1 + dx + width]
            far[dy, dx] = (neighbour > 0) & (np.abs(neighbour - centre) > step * centre)
    flying = np.zeros(depth.shape, bool)
    for dy, dx in ((0, 1), (1, 0), (1, 1), (1, -1)):
        flying |= far[dy, dx] & far[-dy, -dx]
    return np.where(flying, 0, depth).astype(np.float32)


class TestFilters:
    @pytest.fixture(scope="class")
    def scene_depth(self, tmp_path_factory):
        config = write_camera_config(tmp_path_factory.mktemp("mixed"), fps=60, mixed_pixels="on")
        depth, amplitude = mean_depth(config, frames=1)
        return depth, amplitude

    def test_flying_pixels_of_the_mixed_scene_follow_the_rule(self, scene_depth):
        depth, _ = scene_depth
        filtered = geometry.remove_flying_pixels(depth, 0.05)
        np.testing.assert_array_equal(filtered, numpy_flying(depth, np.float32(0.05)))
        removed = (filtered == 0) & (depth > 0)
        # The edges of sphere and box and the floor against the wall: a few hundred pixels,
        # a few per cent of the image at most.
        assert 200 < removed.sum() < 0.04 * depth.size

    def test_median_matches_the_sorted_middle_and_reuses_the_output(self, scene_depth):
        depth, _ = scene_depth
        padded = np.pad(depth, 1, mode="edge")
        windows = np.stack([padded[dy:dy + 180, dx:dx + 240] for dy in range(3) for dx in range(3)])
        expected = np.sort(windows, axis=0)[4]
        out = np.empty_like(depth)
        assert geometry.median3x3(depth, out=out) is out
        np.testing.assert_array_equal(out, expected)

    @pytest.mark.parametrize("height,width", [(1, 1), (1, 300), (300, 1), (3, 17), (5, 257),
                                              (4, 640)])
    def test_median_of_odd_shapes_and_missing_depth_is_the_sorted_middle(self, height, width):
        rng = np.random.default_rng(width * 1000 + height)
        values = np.array([0, -0.0, -5, np.nan, np.inf, -np.inf, 900, 900, 1500.25, 4000],
                          np.float32)
        depth = rng.choice(values, size=(height, width))
        clean = np.where((depth > 0) & np.isfinite(depth), depth, np.float32(0))
        padded = np.pad(clean, 1, mode="edge")
        windows = np.stack([padded[dy:dy + height, dx:dx + width]
                            for dy in range(3) for dx in range(3)])
        expected = np.sort(windows, axis=0)[4]
        filtered = geometry.median3x3(depth)
        np.testing.assert_array_equal(filtered.view(np.uint32), expected.view(np.uint32))

    def test_median_matches_opencv(self, scene_depth):
        cv2 = pytest.importorskip("cv2")
        depth, _ = scene_depth
        np.testing.assert_array_equal(geometry.median3x3(depth), cv2.medianBlur(depth, 3))

    def test_threshold_fill_smooth_and_temporal_on_camera_frames(self, scene_depth):
        depth, amplitude = scene_depth
        thresholded = geometry.threshold_by_confidence(depth, amplitude, 150.0)
        np.testing.assert_array_equal(thresholded, np.where(amplitude >= 150, depth, 0))
        holes = depth.copy()
        holes[50, 60] = 0
        filled = geometry.fill_holes(holes, 8)
        assert filled[50, 60] == holes[49:52, 59:62].max()
        smoothed = geometry.smooth_preserving_edges(depth, 2, 30.0)
        assert np.all((smoothed > 0) == (depth > 0))
        temporal = geometry.TemporalFilter(240, 180, 0.5, 100.0)
        first = temporal.apply(depth)
        second = temporal.apply(depth + 10)
        np.testing.assert_allclose(second, depth + 5, atol=1e-3)
        np.testing.assert_array_equal(first, depth)
        with pytest.raises(ValueError):
            temporal.apply(np.zeros((10, 10), np.float32))
        with pytest.raises(ValueError):
            geometry.smooth_preserving_edges(depth, 9, 30.0)


def read_ply(path):
    """A binary little-endian PLY reader written from the format's description."""
    with open(path, "rb") as f:
        assert f.readline() == b"ply\n"
        names, count, fmt = [], None, None
        while True:
            words = f.readline().decode("ascii").split()
            if words[0] == "format":
                fmt = words[1]
            elif words[0] == "element":
                assert words[1] == "vertex"
                count = int(words[2])
            elif words[0] == "property":
                assert words[1] == "float"
                names.append(words[2])
            elif words[0] == "end_header":
                break
        assert fmt == "binary_little_endian"
        data = np.frombuffer(f.read(), dtype=np.dtype([(n, "<f4") for n in names]))
    assert len(data) == count
    return data


class TestPly:
    def test_written_cloud_reads_back_with_its_amplitude(self, tmp_path):
        intrinsics = simulation.exact_intrinsics()
        rng = np.random.default_rng(5)
        depth = rng.uniform(500, 3000, (180, 240)).astype(np.float32)
        depth[rng.random((180, 240)) < 0.1] = 0
        amplitude = rng.uniform(0, 1000, (180, 240)).astype(np.float32)
        organised = geometry.point_cloud(depth, intrinsics)
        path = tmp_path / "cloud.ply"
        assert geometry.write_ply(path, organised, amplitude) == int((depth > 0).sum())
        data = read_ply(path)
        points, amplitudes = geometry.point_cloud(depth, intrinsics, organised=False,
                                                  amplitude=amplitude)
        np.testing.assert_array_equal(np.stack([data["x"], data["y"], data["z"]], axis=1), points)
        np.testing.assert_array_equal(data["amplitude"], amplitudes)
        plain = tmp_path / "plain.ply"
        geometry.write_ply(plain, points)
        assert read_ply(plain).dtype.names == ("x", "y", "z")
        with pytest.raises(ValueError):
            geometry.write_ply(tmp_path / "missing" / "x.ply", points)

    def test_pcl_reads_the_file(self, tmp_path):
        converter = shutil.which("pcl_ply2pcd")
        if converter is None:
            pytest.skip("pcl-tools not installed")
        points = np.array([[0.5, -0.25, 1.0], [1.5, 2.0, 3.25]], np.float32)
        geometry.write_ply(tmp_path / "two.ply", points, np.array([7.0, 9.0], np.float32))
        subprocess.run([converter, "-format", "0", str(tmp_path / "two.ply"),
                        str(tmp_path / "two.pcd")], check=True, capture_output=True)
        text = (tmp_path / "two.pcd").read_text()
        assert "POINTS 2" in text
        rows = [line.split() for line in text.splitlines()[-2:]]
        assert [float(v) for v in rows[0][:3]] == [0.5, -0.25, 1.0]
        assert [float(v) for v in rows[1][:3]] == [1.5, 2.0, 3.25]
