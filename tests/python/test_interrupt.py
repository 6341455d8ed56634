"""Ctrl-C during a long frame wait: a real SIGINT ends requestFrame with KeyboardInterrupt,
and the camera stays usable. Each case runs in its own interpreter."""
import os
import signal
import subprocess
import sys
import textwrap

import pytest

pytestmark = pytest.mark.slow

# The child opens the default simulated camera, makes it drop every frame so that no frame
# can ever become ready, announces the wait on stdout and then waits.
CHILD_PRELUDE = """
import signal, sys, time
# As in an interactive program, even when the test runner was started with SIGINT ignored.
signal.signal(signal.SIGINT, signal.default_int_handler)
import QuarvelDepthCamera as qdc
camera = qdc.QuarvelCamera()
assert camera.open(qdc.TOFConnect.USB, 0) == qdc.TOFErrorCode.QuarvelSuccess
camera.setControl(qdc.TOFControl.SKIP_FRAME_LOOP, 1)
camera.setControl(qdc.TOFControl.SKIP_FRAME, 1)
assert camera.start(qdc.TOFOutput.DEPTH) == qdc.TOFErrorCode.QuarvelSuccess
"""

# Generous bound on the whole child; a wait that ignores the signal never ends by itself.
CHILD_LIMIT_S = 60


def run_child(body, signal_number=signal.SIGINT, delay_s=0.5):
    child = subprocess.Popen([sys.executable, "-c", CHILD_PRELUDE + textwrap.dedent(body)],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline().strip() == "waiting"
        # Let the child get into the wait before the signal arrives.
        subprocess.run(["sleep", str(delay_s)], check=True)
        os.kill(child.pid, signal_number)
        out, err = child.communicate(timeout=CHILD_LIMIT_S)
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
    return child.returncode, out, err


class TestKeyboardInterrupt:
    @pytest.mark.parametrize("timeout", [-1, 30000])
    def test_wait_ends_with_keyboard_interrupt_and_the_camera_goes_on(self, timeout):
        code, out, err = run_child(f"""
            print("waiting", flush=True)
            started = time.monotonic()
            try:
                camera.requestFrame({timeout})
                print("returned")
            except KeyboardInterrupt:
                print("interrupted", time.monotonic() - started < 20.0)
            camera.setControl(qdc.TOFControl.SKIP_FRAME, 0)
            frame = camera.requestFrame(3000)
            print(type(frame).__name__, frame.getDepthData().shape == (180, 240))
            print(camera.releaseFrame(frame).name, camera.stop().name, camera.close().name)
            """)
        assert code == 0, err
        assert out.split() == ["interrupted", "True", "DepthData", "True", "QuarvelSuccess",
                               "QuarvelSuccess", "QuarvelSuccess"]

    def test_uncaught_interrupt_ends_the_program_like_any_ctrl_c(self):
        code, out, err = run_child("""
            print("waiting", flush=True)
            camera.requestFrame(-1)
            """)
        # Python ends a program on an uncaught KeyboardInterrupt by SIGINT itself.
        assert code == -signal.SIGINT, err
        assert err.rstrip().endswith("KeyboardInterrupt")

    def test_handler_that_does_not_raise_lets_the_wait_continue(self):
        code, out, err = run_child("""
            calls = []
            signal.signal(signal.SIGUSR1, lambda number, frame: calls.append(number))
            print("waiting", flush=True)
            # Waits until the signal has come, however late: each wait must last its whole
            # timeout, the one the handler ran in included.
            results, waits, short = set(), 0, 0
            while not calls and waits < 30:
                waits += 1
                started = time.monotonic()
                results.add(camera.requestFrame(1500))
                short += time.monotonic() - started < 1.4
            print(results, len(calls), short)
            """, signal_number=signal.SIGUSR1, delay_s=0.3)
        assert code == 0, err
        assert out.split() == ["{None}", "1", "0"]
