"""Types of quarvel._recording, the C++ recorder and player under quarvel.recording."""
from typing import Any, Callable, Dict, Optional

def record(path: str, connect: str = "usb", index: int = 0, config: str = "", frames: int = 0,
           seconds: float = 0.0, compression: str = "", queue_frames: int = 8,
           timeout_ms: int = 5000,
           progress: Optional[Callable[[Dict[str, Any]], None]] = None) -> Dict[str, Any]:
    """Records a camera into `path`; the counts (frames, drops, megabytes, seconds,
    camera_frames, write_failed)."""

class Player:
    """A recording played back through the depth pipeline."""
    def __init__(self, path: str, paced: bool = True, loop: bool = False) -> None: ...
    def next(self, timeout_ms: int = 5000) -> Optional[Dict[str, Any]]:
        """The next frame's planes (depth, amplitude, confidence) and timestamp, or None."""
    def report(self) -> Dict[str, Any]: ...
    def info(self) -> Dict[str, Any]: ...
    def close(self) -> None: ...
