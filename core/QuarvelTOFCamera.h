// The camera object: the one thing a user of the library holds.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "core/ComponentFactory.h"
#include "core/FrameBuffer.h"
#include "core/FramePool.h"
#include "core/QuarvelDevice.h"
#include "core/QuarvelTOFSensor.h"
#include "core/ThreadSafety.h"
#include "core/Types.h"

namespace Quarvel {

// Owns the sensor transport, the processing device, the frame pool and the capture thread.
// Order of use: construct, open (or openWithFile), any number of start ... stop cycles
// with frames requested and released in between, close, destroy.
//
// Thread contract: every public operation is called from one user thread at a time.
// The capture thread is internal; control calls from both threads are serialised.
class QuarvelTOFCamera {
public:
    // Probes the board model from the device tree.
    QuarvelTOFCamera();
    // Uses `components` (which must outlive the camera) instead of the production set.
    explicit QuarvelTOFCamera(const ComponentFactory& components,
                              const char* modelPath = nullptr);
    // Stops a running stream and closes an opened camera before releasing everything.
    ~QuarvelTOFCamera();
    QuarvelTOFCamera(const QuarvelTOFCamera&) = delete;
    QuarvelTOFCamera& operator=(const QuarvelTOFCamera&) = delete;

    // Lifecycle. 0 on success; statuses of sensor and device pass through unchanged.
    int open(Connection connect, int index);
    int openWithFile(const char* path, int index);
    int openPostHandle();
    int start(FrameType type);
    // Throws std::system_error when no capture thread runs (there is nothing to join).
    int stop();
    int close();
    CameraInfo getCameraInfo() const;

    // Controls. Thread-safe against the capture thread's frame-rate adaptation.
    int setControl(CameraCtrl ctrl, int value) EXCLUDES(controlCallsMutex);
    int getControl(CameraCtrl ctrl, int* value) EXCLUDES(controlCallsMutex);
    int setControlExt(CameraCtrl ctrl, const char* value) EXCLUDES(controlCallsMutex);
    int getControlExt(CameraCtrl ctrl, const char** value) EXCLUDES(controlCallsMutex);

    // Oldest ready frame, waiting up to timeout ms (negative: without limit), or null.
    // A wait ends with null when the pool it waits on is replaced (next start) or the
    // camera is destroyed, so another thread may do either while one waits here.
    QuarvelFrameBuffer* requestFrame(int16_t timeout);
    // The same, also giving the generation of the pool the frame came from (unchanged when
    // no frame came): a binding that waits without holding off `start` in other threads
    // compares it with poolGeneration() before it touches the frame. Any thread.
    QuarvelFrameBuffer* requestFrame(int16_t timeout, uint64_t* servingPoolGeneration);
    // 0, or -1 for a buffer that is not one of the current pool's or is not handed out.
    int releaseFrame(QuarvelFrameBuffer* frame);

    // Frame-safety queries for bindings: a pool is replaced at every successful start,
    // and a buffer is valid for the user only while it is handed out.
    uint64_t poolGeneration() const { return poolGenerationCount.load(); }
    bool isFrameHeld(const QuarvelFrameBuffer* frame) const;

    // Capture machinery; public so that tests and tools can drive single steps.
    int setOutputType(FrameType type);
    void captureThread();
    int analysisFrame(uint8_t* cache, LinkNode* node);
    int getRawImages(uint8_t* cache, int16_t* out);
    int getPhaseImage(uint8_t* cache, float* depth, float* amplitude, float* confidence);
    void updateFps();
    void adjustFrameRate() EXCLUDES(controlCallsMutex);

    // Measured delivery rate (capture thread's view) and the board found at construction.
    float measuredFps() const { return fps; }
    int32_t frameCountDelivered() const { return frameCount; }
    int getBoardModel() const { return boardModel; }

private:
    // Replaces the sensor with `next`, opens it and binds a device to it.
    int openSensor(std::unique_ptr<QuarvelTOFSensor> next);
    void replaceSensor(std::unique_ptr<QuarvelTOFSensor> next);
    void closeAndDropDevice();
    void stopIfStreaming();
    bool skipThisFrame();
    // One sensor read into the cache with the skip rule: 0 (a frame to process), 240
    // (dropped) or -1 (no whole frame). Capture thread.
    int readFrame(uint8_t* cache, uint64_t* timestamp);
    // A free buffer, else the oldest undelivered frame; waits while the user holds every
    // buffer. Null when stopFlag is set during that wait. Capture thread.
    LinkNode* claimNode(FramePool& framePool);
    // Stamps the node's buffer and lets the device fill it from the cache: 0 or -1.
    int processFrame(uint8_t* cache, LinkNode* node, uint64_t timestamp);
    // The current pool, kept alive for a caller that waits on it. User threads.
    std::shared_ptr<FramePool> currentPool() const;
    // Retires the current pool (waking its waiters) and puts `next` in its place.
    void replacePool(std::shared_ptr<FramePool> next);

    CameraInfo info{};
    FrameLayout rawLayout{};
    FrameLayout outputLayout{};
    std::unique_ptr<QuarvelTOFSensor> sensor;
    std::unique_ptr<QuarvelDevice> device;
    // Shared with user threads waiting in requestFrame, so that a pool replaced or destroyed
    // meanwhile stays valid until they have left it. Replaced only while no capture thread
    // runs; the capture thread takes its own reference when it starts.
    mutable Mutex poolPointerMutex;  // guards the pool pointer (not the pool)
    std::shared_ptr<FramePool> pool GUARDED_BY(poolPointerMutex);
    std::thread worker;
    std::atomic<bool> stopFlag{true};
    int boardModel = BOARD_UNKNOWN;
    std::atomic<int32_t> skipFrame{0};
    std::atomic<int32_t> skipFrameLoop{1};
    int32_t skipCounter = 0;
    float frameInterval = 0.0f;
    float smoothing = 0.1f;
    std::atomic<float> fps{0.0f};
    std::atomic<int32_t> frameCount{0};
    int64_t lastFrameTime = 0;
    std::atomic<bool> autoFrameRate{true};

    const ComponentFactory* components;
    Mutex controlCallsMutex;  // serialises control calls into device and sensor
    // Counts pools built; read by threads waiting for a frame while `start` runs elsewhere.
    std::atomic<uint64_t> poolGenerationCount{0};
};

}  // namespace Quarvel
