"""What the quarvel package hands out per frame."""


class DepthFrame:
    """One depth frame: depth (mm), amplitude and confidence as float32 arrays (copies), and
    the frame's timestamp (ms) and index within the stream."""

    __slots__ = ("depth", "amplitude", "confidence", "timestamp", "index")

    def __init__(self, depth, amplitude, confidence, timestamp, index):
        self.depth = depth
        self.amplitude = amplitude
        self.confidence = confidence
        self.timestamp = timestamp
        self.index = index
