"""Types of the QuarvelDepthCamera extension module: the camera, its frames and records, and
the enums of connections, outputs, controls, work modes and status codes.

Every method of QuarvelCamera returns a TOFErrorCode (or a value) and never raises for a
status; wrong argument kinds raise TypeError before the camera is called.
"""
import builtins
from typing import ClassVar, Dict, Optional, Union

import numpy as np
import numpy.typing as npt

__version__: str

class TOFDeviceType:
    """Sensor model: VGA (640x480, phase library) or HQVGA (240x180). Compares equal to int."""
    VGA: ClassVar[TOFDeviceType]
    HQVGA: ClassVar[TOFDeviceType]
    __members__: ClassVar[Dict[str, TOFDeviceType]]
    def __init__(self, value: int) -> None: ...
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    def __index__(self) -> int: ...
    def __int__(self) -> int: ...
    def __getstate__(self) -> int: ...
    def __setstate__(self, state: int) -> None: ...
    @property
    def name(self) -> str: ...
    @property
    def value(self) -> int: ...

class TOFOutput:
    """Output type of a stream (start) and of a frame: RAW samples or DEPTH planes.

    CONFIDENCE and CACHE name planes and buffers; the camera streams only RAW and DEPTH."""
    RAW: ClassVar[TOFOutput]
    DEPTH: ClassVar[TOFOutput]
    CONFIDENCE: ClassVar[TOFOutput]
    CACHE: ClassVar[TOFOutput]
    __members__: ClassVar[Dict[str, TOFOutput]]
    def __init__(self, value: int) -> None: ...
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    def __index__(self) -> int: ...
    def __int__(self) -> int: ...
    def __getstate__(self) -> int: ...
    def __setstate__(self, state: int) -> None: ...
    @property
    def name(self) -> str: ...
    @property
    def value(self) -> int: ...

class TOFConnect:
    """How the camera is attached: CSI (MIPI CSI-2, V4L2) or USB (the USB camera SDK)."""
    CSI: ClassVar[TOFConnect]
    USB: ClassVar[TOFConnect]
    __members__: ClassVar[Dict[str, TOFConnect]]
    def __init__(self, value: int) -> None: ...
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    def __index__(self) -> int: ...
    def __int__(self) -> int: ...
    def __getstate__(self) -> int: ...
    def __setstate__(self, state: int) -> None: ...
    @property
    def name(self) -> str: ...
    @property
    def value(self) -> int: ...

class TOFControl:
    """Numbered controls of setControl and getControl.

    RANGE (mm), FMT_WIDTH and FMT_HEIGHT (frame geometry), MODE (a TofWorkMode), FRAME_MODE
    (a TofFrameWorkMode), EXPOSURE, FRAME_RATE (frames per second), SKIP_FRAME and
    SKIP_FRAME_LOOP (frame skipping), CONFIG_DIR_EXT (configuration directory of the phase
    library). TOFControl(9) switches the automatic frame-rate adaptation."""
    RANGE: ClassVar[TOFControl]
    FMT_WIDTH: ClassVar[TOFControl]
    FMT_HEIGHT: ClassVar[TOFControl]
    MODE: ClassVar[TOFControl]
    FRAME_MODE: ClassVar[TOFControl]
    EXPOSURE: ClassVar[TOFControl]
    FRAME_RATE: ClassVar[TOFControl]
    SKIP_FRAME: ClassVar[TOFControl]
    SKIP_FRAME_LOOP: ClassVar[TOFControl]
    CONFIG_DIR_EXT: ClassVar[TOFControl]
    __members__: ClassVar[Dict[str, TOFControl]]
    def __init__(self, value: int) -> None: ...
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    def __index__(self) -> int: ...
    def __int__(self) -> int: ...
    def __getstate__(self) -> int: ...
    def __setstate__(self, state: int) -> None: ...
    @property
    def name(self) -> str: ...
    @property
    def value(self) -> int: ...

class TofWorkMode:
    """Work mode of the sensor, the value of the MODE control (pass the member itself)."""
    SINGLE_FREQ: ClassVar[TofWorkMode]
    DOUBLE_FREQ: ClassVar[TofWorkMode]
    TRIPLE_FREQ: ClassVar[TofWorkMode]
    QUAD_FREQ: ClassVar[TofWorkMode]
    DISTANCE: ClassVar[TofWorkMode]
    HDR: ClassVar[TofWorkMode]
    AE: ClassVar[TofWorkMode]
    BG_OUTDOOR: ClassVar[TofWorkMode]
    GRAY_ONLY: ClassVar[TofWorkMode]
    CUSTOM1: ClassVar[TofWorkMode]
    CUSTOM2: ClassVar[TofWorkMode]
    CUSTOM3: ClassVar[TofWorkMode]
    __members__: ClassVar[Dict[str, TofWorkMode]]
    def __init__(self, value: int) -> None: ...
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    def __index__(self) -> int: ...
    def __int__(self) -> int: ...
    def __getstate__(self) -> int: ...
    def __setstate__(self, state: int) -> None: ...
    @property
    def name(self) -> str: ...
    @property
    def value(self) -> int: ...

class TofFrameWorkMode:
    """Sub-frame sequence of the sensor, the value of the FRAME_MODE control."""
    SINGLE_FREQ_2PHASE: ClassVar[TofFrameWorkMode]
    SINGLE_FREQ_4PHASE: ClassVar[TofFrameWorkMode]
    SINGLE_FREQ_4PHASE_GRAY: ClassVar[TofFrameWorkMode]
    SINGLE_FREQ_4PHASE_BG: ClassVar[TofFrameWorkMode]
    SINGLE_FREQ_4PHASE_4BG: ClassVar[TofFrameWorkMode]
    SINGLE_FREQ_4PHASE_GRAY_5BG: ClassVar[TofFrameWorkMode]
    SINGLE_FREQ_GRAY_BG_4PHASE_GRAY_BG: ClassVar[TofFrameWorkMode]
    SINGLE_FREQ_GRAY_BG_4PHASE_BG: ClassVar[TofFrameWorkMode]
    SINGLE_FREQ_BG_GRAY_BG_4PHASE: ClassVar[TofFrameWorkMode]
    SINGLE_FREQ_BG_4PHASE_BG_GRAY: ClassVar[TofFrameWorkMode]
    DOUBLE_FREQ_4PHASE: ClassVar[TofFrameWorkMode]
    DOUBLE_FREQ_4PHASE_GRAY_4PHASE_BG: ClassVar[TofFrameWorkMode]
    DOUBLE_FREQ_4PHASE_4BG: ClassVar[TofFrameWorkMode]
    DOUBLE_FREQ_4PHASE_GRAY_5BG: ClassVar[TofFrameWorkMode]
    TRIPLE_FREQ_4PHASE: ClassVar[TofFrameWorkMode]
    TRIPLE_FREQ_4PHASE_GRAY_4PHASE_GRAY_4PHASE_BG: ClassVar[TofFrameWorkMode]
    QUAD_FREQ_4PHASE: ClassVar[TofFrameWorkMode]
    QUAD_FREQ_4PHASE_GRAY_4PHASE_BG_4PHASE_GRAY_4PHASE_BG: ClassVar[TofFrameWorkMode]
    BG_OUTDOOR: ClassVar[TofFrameWorkMode]
    GRAY_ONLY: ClassVar[TofFrameWorkMode]
    CUSTOM: ClassVar[TofFrameWorkMode]
    __members__: ClassVar[Dict[str, TofFrameWorkMode]]
    def __init__(self, value: int) -> None: ...
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    def __index__(self) -> int: ...
    def __int__(self) -> int: ...
    def __getstate__(self) -> int: ...
    def __setstate__(self, state: int) -> None: ...
    @property
    def name(self) -> str: ...
    @property
    def value(self) -> int: ...

class TOFErrorCode:
    """Status of a camera call. Compares equal to int: QuarvelSuccess == 0.

    Codes without a name (any signed 32-bit value) are members too, with the name "???"."""
    QuarvelSuccess: ClassVar[TOFErrorCode]
    QuarvelInvalidParameter: ClassVar[TOFErrorCode]
    QuarvelNoCache: ClassVar[TOFErrorCode]
    QuarvelUnkownDevice: ClassVar[TOFErrorCode]
    QuarvelNotImplemented: ClassVar[TOFErrorCode]
    QuarvelSkipFrame: ClassVar[TOFErrorCode]
    QuarvelSystemError: ClassVar[TOFErrorCode]
    QuarvelUnkownError: ClassVar[TOFErrorCode]
    __members__: ClassVar[Dict[str, TOFErrorCode]]
    def __init__(self, value: int) -> None: ...
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    def __index__(self) -> int: ...
    def __int__(self) -> int: ...
    def __getstate__(self) -> int: ...
    def __setstate__(self, state: int) -> None: ...
    def str(self) -> builtins.str:
        """The message of the code ("Success", ..., "Unknown error" for unnamed codes)."""
    @property
    def name(self) -> builtins.str: ...
    @property
    def value(self) -> int: ...

class QuarvelFormat:
    """Format of a frame (a copy): width, height, timestamp in ms, output type."""
    width: int
    height: int
    timestamp: int
    type: TOFOutput

class QuarvelInfo:
    """The camera's information (a copy): device index, connection, sensor model, output
    type, frame width and height, bits per sample and bytes per sample."""
    index: int
    connect: TOFConnect
    device_type: TOFDeviceType
    type: TOFOutput
    width: int
    height: int
    bit_width: int
    bpp: int

class QuarvelFrame:
    """A frame borrowed from the camera's pool, from requestFrame until releaseFrame."""

class RawData(QuarvelFrame):
    """A frame of raw 16-bit samples."""
    def getRawData(self) -> npt.NDArray[np.int16]:
        """Get raw data from the frame"""
    def getFrameFormat(self) -> QuarvelFormat:
        """Get the information of this frame"""

class DepthData(QuarvelFrame):
    """A depth frame: depth in mm, confidence and amplitude planes of the same shape."""
    def getDepthData(self) -> npt.NDArray[np.float32]:
        """Get depth data from the frame"""
    def getConfidenceData(self) -> npt.NDArray[np.float32]:
        """Get confidence data from the frame"""
    def getAmplitudeData(self) -> npt.NDArray[np.float32]:
        """Get amplitude data from the frame"""
    def getFrameFormat(self) -> QuarvelFormat:
        """Get the information of this frame"""

class QuarvelCamera:
    """A depth camera: open, start, requestFrame / releaseFrame, stop, close.

    Arrays from frames are copies that stay valid after releaseFrame. Every call holds the
    interpreter lock, also requestFrame while it waits."""
    def __init__(self) -> None: ...
    def open(self, mode: TOFConnect, index: int = 0) -> TOFErrorCode:
        """Initialize the camera configuration and turn on the camera, set the initialization frame according to the mode.

        - mode Specify the connection method.
        - index Device node, the default value is video0."""
    def openWithFile(self, path: Union[str, bytes, bytearray, memoryview, None],
                     index: int = 0) -> TOFErrorCode:
        """Initialize the camera configuration and turn on the camera, set the initialization frame according to the mode.

        - path Specify the config file path.
        - index Device node, the default value is video0."""
    def close(self) -> TOFErrorCode:
        """Close the camera"""
    def start(self, type: TOFOutput) -> TOFErrorCode:
        """Start the camera stream and start processing."""
    def stop(self) -> TOFErrorCode:
        """Stop camera stream and processing."""
    def setControl(self, ctrl: TOFControl, value: int) -> TOFErrorCode:
        """Set camera parameters."""
    def getControl(self, ctrl: TOFControl) -> int:
        """Get camera parameters."""
    def getCameraInfo(self) -> QuarvelInfo:
        """Get camera information."""
    def requestFrame(self, timeout: int) -> Optional[QuarvelFrame]:
        """Request a frame of data from the frame processing thread."""
    def releaseFrame(self, frame: Optional[QuarvelFrame]) -> TOFErrorCode:
        """Free the memory space of the frame."""
