/* Test bench of the simulated USB camera: inspection and scripting entry points.
 *
 * Only the stand-in libquarvel_evk_sdk exports these; the vendor's library does not.
 * They act on the camera that is currently open (records of the last open and the
 * register log survive its close until the next open). Thread-safe.
 */
#ifndef QUARVEL_EVK_SIM_H
#define QUARVEL_EVK_SIM_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Path (empty for none) and .bin flag that the last QuarvelOpenCamera received. The path
 * is truncated to capacity - 1 characters. 0, or -1 when no open happened yet. */
int QuarvelSimLastOpenParam(char* path, size_t capacity, int* binFlag);

/* Register writes since the last open, 3 bytes each: address high, address low, value.
 * Copies at most capacity bytes; returns the log's full length in bytes. */
size_t QuarvelSimRegisterLog(uint8_t* bytes, size_t capacity);

/* Queues scripted captures on the open camera. While the queue is not empty, each
 * QuarvelCaptureImage of a streaming camera takes its next entry at once instead of a
 * simulated frame: a frame with the given timestamp and pixel bytes (copied, any size),
 * or a failed capture. 0, or -1 without an open camera. */
int QuarvelSimQueueFrame(uint64_t timestampMs, const void* data, uint32_t size);
int QuarvelSimQueueMissedCapture(void);

/* Frame buffers lent by QuarvelCaptureImage and not yet handed back. */
int QuarvelSimFramesLent(void);

/* Which simulated sub-frame the open camera delivered with timestamp `timestampMs`
 * (among its 256 most recent deliveries): frame number, sub-frame within the frame,
 * 1 when it was taken in the short-range (75 MHz) modulation, and the moment
 * QuarvelCaptureImage handed it over, in nanoseconds of the monotonic clock
 * (CLOCK_MONOTONIC, as std::chrono::steady_clock and Python's time.monotonic_ns).
 * 0, or -1 if unknown. */
typedef struct QuarvelSimDelivery {
    uint64_t frame;
    int32_t subframe;
    int32_t shortRange;
    int64_t handedOverNs;
} QuarvelSimDelivery;
int QuarvelSimFindDelivery(uint64_t timestampMs, QuarvelSimDelivery* delivery);

/* Fault injection. Makes the SDK function named `function` (one of the ten, e.g.
 * "QuarvelStartCamera") fail: of its calls from now on, the first `skip` work as usual and the
 * next `times` return `status` (nonzero) at once, doing nothing else (a failed
 * QuarvelFreeImage keeps the frame lent, a failed QuarvelCloseCamera leaves the camera
 * open). One rule per function; a new one replaces it. Rules outlive close and open.
 * 0, or -1 for an unknown name or a zero status. */
int QuarvelSimFailCall(const char* function, int status, unsigned skip, unsigned times);
void QuarvelSimClearFailures(void);
/* Calls of the named SDK function in this process so far, failed ones included. */
uint64_t QuarvelSimCallCount(const char* function);
/* Cameras opened and not closed: 0 or 1. */
int QuarvelSimOpenCameras(void);

#ifdef __cplusplus
}
#endif

#endif /* QUARVEL_EVK_SIM_H */
