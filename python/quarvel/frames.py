"""What the quarvel package hands out per frame."""
import numpy as np
import numpy.typing as npt

FloatPlane = npt.NDArray[np.float32]


class DepthFrame:
    """One depth frame: depth (mm), amplitude and confidence as float32 arrays (copies), and
    the frame's timestamp (ms) and index within the stream."""

    __slots__ = ("depth", "amplitude", "confidence", "timestamp", "index")

    def __init__(self, depth: FloatPlane, amplitude: FloatPlane, confidence: FloatPlane,
                 timestamp: int, index: int) -> None:
        self.depth = depth
        self.amplitude = amplitude
        self.confidence = confidence
        self.timestamp = timestamp
        self.index = index
