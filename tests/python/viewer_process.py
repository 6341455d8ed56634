"""A `quarvel view` server in a subprocess on a free port, for the viewer's tests and benchmark."""
import os
import subprocess
import sys


class ViewerProcess:
    """Starts `python3 -m quarvel view ARGUMENTS --port 0 --host 127.0.0.1`; `url` once it
    listens. Use as a context manager: leaving stops it with SIGTERM."""

    def __init__(self, *arguments, env=None):
        environment = dict(os.environ if env is None else env)
        self.process = subprocess.Popen(
            [sys.executable, "-m", "quarvel", "view", *arguments, "--port", "0",
             "--host", "127.0.0.1"],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=environment)
        line = self.process.stdout.readline()
        if "serving http://" not in line:
            self.process.kill()
            raise RuntimeError(f"the viewer did not start: {line}{self.process.stderr.read()}")
        self.url = line.split("serving ")[1].split()[0]

    def stop(self):
        """Stops the server; its exit code and standard error."""
        if self.process.poll() is None:
            self.process.terminate()
        _, stderr = self.process.communicate(timeout=60)
        return self.process.returncode, stderr

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.communicate(timeout=60)
        return False
