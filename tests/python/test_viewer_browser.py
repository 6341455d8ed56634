"""The live viewer in a real browser (headless Chromium through selenium): the page loads
without console errors, frames arrive and update the canvases, the distance under the pointer
and the canvas colours match the simulated wall, controls reach the camera and a refused value
shows the camera's refusal."""
import json
import math
import os
import tempfile

import numpy as np
import pytest

import QuarvelDepthCamera as qdc

selenium = pytest.importorskip("selenium", reason="the browser test needs python3-selenium")
pytest.importorskip("aiohttp", reason="the viewer needs python3-aiohttp")
from selenium import webdriver  # noqa: E402
from selenium.webdriver.chrome.service import Service  # noqa: E402
from selenium.webdriver.common.action_chains import ActionChains  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.support.ui import WebDriverWait  # noqa: E402

from viewer_process import ViewerProcess  # noqa: E402

pytestmark = pytest.mark.browser

WALL_MM = 1500.0
FOCAL = 120 / math.tan(math.radians(32.0))
# Generous: a loaded CI machine may take long to start Chromium; nothing here is timed.
WAIT_S = 90
CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                  "--no-first-run", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync", "--disable-dev-shm-usage",
                  "--window-size=1300,1400"]


def wall_truth(u, v):
    """Distance along pixel (u, v)'s ray to the wall (pixel centres at whole numbers)."""
    dx, dy = u - 119.5, v - 89.5
    return WALL_MM * math.sqrt(dx * dx + dy * dy + FOCAL * FOCAL) / FOCAL


def make_driver(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in CHROMIUM_FLAGS:
        options.add_argument(flag)
    options.add_argument(f"--user-data-dir={profile}")
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    # A sanitizer runtime preloaded for the module must not reach the browser.
    env = {key: value for key, value in os.environ.items() if key != "LD_PRELOAD"}
    service = Service("/usr/bin/chromedriver", env=env)
    return webdriver.Chrome(service=service, options=options)


@pytest.fixture
def browser():
    with tempfile.TemporaryDirectory(prefix="quarvel-chromium-") as profile:
        driver = make_driver(profile)
        try:
            yield driver
        finally:
            driver.quit()


@pytest.fixture
def wall_viewer(tmp_path):
    config = tmp_path / "wall.cfg"
    config.write_text(f"scene = wall\nwall_distance_mm = {WALL_MM:.0f}\n")
    env = dict(os.environ)
    env.pop("QUARVEL_SIMULATED_BOARD", None)
    with ViewerProcess("--config", str(config), env=env) as server:
        yield server


def wait_for(driver, script, what):
    """Waits until the page's `script` returns something true; that value."""
    return WebDriverWait(driver, WAIT_S, poll_frequency=0.1).until(
        lambda d: d.execute_script(script), message=f"waiting for {what}")


def canvas_pixels(driver, canvas_id, x=0, y=0, width=240, height=180):
    data = driver.execute_script(
        "const c = document.getElementById(arguments[0]).getContext('2d');"
        "return Array.from(c.getImageData(arguments[1], arguments[2], arguments[3],"
        " arguments[4]).data);", canvas_id, x, y, width, height)
    return np.array(data, np.uint8).reshape(height, width, 4)


def control_answer(driver, name, value):
    row = driver.find_element(By.CSS_SELECTOR, f'tr[data-control="{name}"]')
    field = row.find_element(By.TAG_NAME, "input")
    field.clear()
    field.send_keys(str(value))
    row.find_element(By.TAG_NAME, "button").click()
    cell = row.find_element(By.CLASS_NAME, "answer")
    WebDriverWait(driver, WAIT_S, poll_frequency=0.1).until(
        lambda d: cell.get_attribute("class") != "answer" and "asking" not in cell.text,
        message=f"waiting for the camera's answer to {name} = {value}")
    return cell


def test_the_viewer_shows_the_live_wall_and_drives_the_controls(browser, wall_viewer):
    empty = None
    browser.get(wall_viewer.url)
    wait_for(browser, "return window.quarvelViewer && window.quarvelViewer.info", "the page")
    empty = canvas_pixels(browser, "depth")
    assert empty.shape == (180, 240, 4)
    first = wait_for(browser, "return window.quarvelViewer.framesReceived >= 3 && "
                              "window.quarvelViewer.framesReceived", "frames")
    # Frames keep arriving and the canvases change: painted over the blank canvas, and the
    # amplitude (with the simulation's noise) from one frame to a later one.
    depth_image = canvas_pixels(browser, "depth")
    assert (depth_image[..., 3] == 255).all() and not np.array_equal(depth_image, empty)
    amplitude_before = canvas_pixels(browser, "amplitude")
    wait_for(browser, f"return window.quarvelViewer.framesReceived >= {first + 5}", "more frames")
    assert not np.array_equal(amplitude_before, canvas_pixels(browser, "amplitude"))
    assert browser.find_element(By.ID, "fps").text.endswith(" fps")
    assert int(browser.find_element(By.ID, "frames").text) >= first + 5
    assert browser.find_element(By.ID, "status").text == "live"

    # The distance under the pointer at chosen pixels (the canvas is shown at twice its size)
    # and the colour painted there, against the wall's ground truth.
    canvas = browser.find_element(By.ID, "depth")
    shown_width = canvas.size["width"]
    scale = shown_width / 240
    info = browser.execute_script("return window.quarvelViewer.info")
    palette = np.array(info["depth_palette"], int)
    near = float(browser.find_element(By.ID, "near").get_attribute("value"))
    far = float(browser.find_element(By.ID, "far").get_attribute("value"))
    for u, v in [(60, 45), (200, 150), (120, 90)]:
        x_offset = int((u + 0.5) * scale - canvas.size["width"] / 2)
        y_offset = int((v + 0.5) * scale - canvas.size["height"] / 2)
        ActionChains(browser).move_to_element_with_offset(canvas, x_offset, y_offset).perform()
        readout = browser.find_element(By.ID, "readout")
        WebDriverWait(browser, WAIT_S, poll_frequency=0.1).until(
            lambda d: f"at ({u}, {v})" in readout.text)
        measured = float(readout.get_attribute("data-mm"))
        truth = wall_truth(u, v)
        assert abs(measured - truth) < 30, (u, v, readout.text, truth)
        pixel = canvas_pixels(browser, "depth", u, v, 1, 1)[0, 0, :3].astype(int)
        index = np.abs(palette - pixel).sum(axis=1).argmin()
        assert np.abs(palette[index] - pixel).sum() <= 3
        decoded = near + index / 255 * (far - near)
        assert abs(decoded - truth) < 30 + (far - near) / 255, (u, v, decoded, truth)

    # A control change reaches the camera: the camera reports the new range afterwards.
    cell = control_answer(browser, "RANGE", 2000)
    assert "accepted" in cell.get_attribute("class"), cell.text
    assert cell.text == "accepted; the camera reports 2000"
    # A value the camera refuses shows its refusal in the camera's words.
    cell = control_answer(browser, "EXPOSURE", 5)
    assert "refused" in cell.get_attribute("class"), cell.text
    refusal = qdc.TOFErrorCode.QuarvelInvalidParameter
    assert cell.text.startswith(f"refused 5: {refusal.str()} ({int(refusal)})"), cell.text

    screenshots = os.environ.get("QUARVEL_SCREENSHOT_DIR")
    if screenshots:
        browser.save_screenshot(os.path.join(screenshots, "viewer.png"))

    severe = [entry for entry in browser.get_log("browser") if entry["level"] == "SEVERE"]
    assert severe == [], json.dumps(severe, indent=1)
    code, stderr = wall_viewer.stop()
    assert code == 0, stderr
    assert "Traceback" not in stderr
