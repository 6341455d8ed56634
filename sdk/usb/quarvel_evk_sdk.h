/* Quarvel EVK USB camera SDK: open a USB ToF camera, stream image frames, write registers.
 *
 * This header declares the ten entry points of libquarvel_evk_sdk. The library shipped in
 * this tree is a stand-in that simulates one camera (see docs/simulated-camera.md); the
 * vendor's library has the same entry points and can be linked in its place.
 *
 * Records are passed as raw bytes and their fields are read and written at fixed byte
 * offsets with memcpy, so 32-bit and 64-bit builds agree on the layout. Bytes not listed
 * belong to the SDK: keep them as the SDK left them.
 *
 * Threads: every function may be called from any thread. QuarvelWriteSensorReg may run
 * while another thread is blocked in QuarvelCaptureImage on the same camera.
 */
#ifndef QUARVEL_EVK_SDK_H
#define QUARVEL_EVK_SDK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Camera handle: pointer-sized, 0 when no camera is open. */
typedef void* QuarvelCameraHandle;

/* Open parameters (20 bytes), filled with defaults by QuarvelDefaultParam. */
enum {
    QUARVEL_OPEN_PARAM_SIZE = 20,
    QUARVEL_OPEN_PARAM_CONFIG_PATH = 0, /* pointer to a NUL-terminated path, or null */
    QUARVEL_OPEN_PARAM_BIN_FLAG = 8,    /* uint8: 1 when the path names a .bin file */
    QUARVEL_OPEN_PARAM_VERSION = 12     /* uint32: set by QuarvelDefaultParam */
};

/* Camera configuration (80 bytes), filled by QuarvelGetCameraConfig. */
enum {
    QUARVEL_CAMERA_CONFIG_SIZE = 80,
    QUARVEL_CAMERA_CONFIG_WIDTH = 64,     /* uint32: pixels per line of a frame */
    QUARVEL_CAMERA_CONFIG_HEIGHT = 68,    /* uint32: lines of a frame */
    QUARVEL_CAMERA_CONFIG_BIT_WIDTH = 72  /* uint8: significant bits per sample */
};

/* Image frame (48 bytes, 8-byte aligned), filled by QuarvelCaptureImage and handed back
 * to QuarvelFreeImage unchanged. */
enum {
    QUARVEL_IMAGE_FRAME_SIZE = 48,
    QUARVEL_IMAGE_FRAME_TIMESTAMP = 8, /* uint64: capture time, milliseconds */
    QUARVEL_IMAGE_FRAME_DATA_SIZE = 24, /* uint32: bytes of pixel data */
    QUARVEL_IMAGE_FRAME_DATA = 28       /* pointer to the pixel data */
};
typedef struct QuarvelImageFrame {
    uint64_t bytes[QUARVEL_IMAGE_FRAME_SIZE / 8];
} QuarvelImageFrame;

/* Results: 0 success, negative failure. */
enum {
    QUARVEL_EVK_SUCCESS = 0,
    QUARVEL_EVK_ERROR = -1,            /* bad handle or argument */
    QUARVEL_EVK_BUSY = -2,             /* the camera is already open or streaming */
    QUARVEL_EVK_NO_CAMERA = -3,        /* no camera, or its description cannot be used */
    QUARVEL_EVK_NOT_READY = -4,        /* not initialised, or not streaming */
    QUARVEL_EVK_TIMEOUT = -5,          /* no frame within the timeout */
    QUARVEL_EVK_NO_BUFFER = -6,        /* every frame buffer is still held by the caller */
    QUARVEL_EVK_CAPTURE_FAILED = -7    /* the camera delivered no frame */
};

/* Fills `param` (QUARVEL_OPEN_PARAM_SIZE bytes) with defaults: no configuration path. */
int QuarvelDefaultParam(void* param);

/* Opens the camera described by `param`; on success stores its handle in *handle. A
 * configuration path that cannot be read or understood fails with a message on stderr. */
int QuarvelOpenCamera(QuarvelCameraHandle* handle, void* param);

/* Prepares an opened camera for streaming. */
int QuarvelInitCamera(QuarvelCameraHandle handle);

/* Fills `config` (QUARVEL_CAMERA_CONFIG_SIZE bytes) with the camera's frame geometry. */
int QuarvelGetCameraConfig(QuarvelCameraHandle handle, void* config);

int QuarvelStartCamera(QuarvelCameraHandle handle);
/* Stops streaming; a capture blocked in another thread returns at once. */
int QuarvelStopCamera(QuarvelCameraHandle handle);
/* Stops and releases the camera; the handle is invalid afterwards. */
int QuarvelCloseCamera(QuarvelCameraHandle handle);

/* Waits up to timeoutMs milliseconds for the next frame and lends it in *frame. Every
 * frame obtained must be handed back with QuarvelFreeImage. */
int QuarvelCaptureImage(QuarvelCameraHandle handle, QuarvelImageFrame* frame, int timeoutMs);
int QuarvelFreeImage(QuarvelCameraHandle handle, QuarvelImageFrame frame);

/* Writes one 8-bit sensor register at a 16-bit address. */
int QuarvelWriteSensorReg(QuarvelCameraHandle handle, uint16_t reg, uint8_t value);

#ifdef __cplusplus
}
#endif

#endif /* QUARVEL_EVK_SDK_H */
