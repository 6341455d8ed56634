"""Recording and playback from Python and the command line: what is recorded plays back,
a noiseless wall replays at its true distance, the progress line reports, a cut file plays
its complete chunks and says what it lost, a foreign file is refused with its reason."""
import os
import re
import subprocess
import sys

import numpy as np
import pytest

import quarvel
from conftest import DEPTH_TOLERANCE_MM, wall_distance_per_pixel


def test_a_recording_of_a_wall_plays_back_at_the_wall_distance(tmp_path, wall_config):
    path = str(tmp_path / "wall.mcap")
    reports = []
    counts = quarvel.record(path, config=str(wall_config), frames=8, queue_frames=64,
                            progress=reports.append)
    assert counts["frames"] >= 8 and counts["drops"] == 0
    assert counts["camera_frames"] == 8
    assert counts["megabytes"] > 8 * 240 * 180 * 4 * 2 / 1e6 / 4  # compressed raw at least
    # The last report is the final count.
    assert reports and reports[-1]["frames"] == counts["frames"]

    with quarvel.open(f"file:{path}", paced=False) as playback:
        assert playback.info == {"width": 240, "height": 180, "device_type": "HQVGA"}
        frames = list(playback)
        report = playback.report
    assert report["frames_played"] == counts["frames"]
    assert report["frames_lost"] == 0 and not report["truncated"] and report["error"] == ""
    assert frames
    truth = wall_distance_per_pixel()
    for frame in frames:
        assert frame.depth.shape == (180, 240) and frame.depth.dtype == np.float32
        assert frame.confidence.shape == (180, 240)
        assert np.max(np.abs(frame.depth - truth)) < DEPTH_TOLERANCE_MM
    assert [frame.index for frame in frames] == list(range(len(frames)))
    assert all(a.timestamp < b.timestamp for a, b in zip(frames, frames[1:]))


def test_a_file_cut_short_plays_its_complete_chunks_and_counts_the_lost(tmp_path):
    path = tmp_path / "cut.mcap"
    counts = quarvel.record(str(path), frames=24, queue_frames=64)
    data = path.read_bytes()
    path.write_bytes(data[: len(data) * 3 // 4])
    with quarvel.open(f"file:{path}", paced=False) as playback:
        for _ in playback:
            pass
        report = playback.report
    assert report["truncated"]
    assert report["frames_played"] > 0 and report["frames_lost"] > 0
    assert report["frames_played"] + report["frames_lost"] <= counts["frames"]


def test_a_foreign_file_is_refused_with_its_reason(tmp_path):
    path = tmp_path / "notes.mcap"
    path.write_text("shopping list\n")
    with pytest.raises(RuntimeError, match="not an MCAP file"):
        quarvel.open(f"file:{path}")
    with pytest.raises(TypeError, match="file:PATH"):
        quarvel.open("usb:0", paced=False)


@pytest.mark.slow
def test_the_command_line_records_with_a_progress_line_and_plays(tmp_path):
    env = dict(os.environ)
    path = str(tmp_path / "run.mcap")
    recorded = subprocess.run([sys.executable, "-m", "quarvel", "record", path, "--frames", "30",
                               "--compression", "lz4"],
                              capture_output=True, text=True, env=env, timeout=300, check=True)
    final = recorded.stderr.replace("\r", "\n").strip().splitlines()[-1]
    # A loaded machine may cost the recording frames; the line says how many.
    assert re.fullmatch(r"frames \d+  seconds [\d.]+  megabytes [\d.]+  drops \d+", final), final
    assert "recorded" in recorded.stdout
    played = subprocess.run([sys.executable, "-m", "quarvel", "play", path, "--fast"],
                            capture_output=True, text=True, env=env, timeout=300, check=True)
    frames = int(final.split()[1])
    # Every recorded frame plays; frames the camera itself dropped under load show as lost.
    assert re.match(rf"played {frames} frames(, \d+ lost)?;", played.stdout), played.stdout
