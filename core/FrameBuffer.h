// Frame buffers: the planes of one delivered frame, and the pool's raw cache.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/Types.h"

namespace Quarvel {

// A frame handed to the user. Buffers belong to the frame pool; the user borrows them
// from requestFrame until releaseFrame.
class QuarvelFrameBuffer {
public:
    virtual ~QuarvelFrameBuffer() = default;
    // Stores the capture time into every format record the buffer holds.
    virtual void setTimestamp(uint64_t timestamp) = 0;
    // The plane of that type, or null when the buffer holds none.
    virtual void* getData(FrameType type) = 0;
    // Copies the plane's format into out and returns 0, or returns -1 leaving out untouched.
    virtual int getFormat(FrameType type, FrameDataFormat& out) = 0;
};

// RAW plane of int16 samples.
class RawData : public QuarvelFrameBuffer {
public:
    RawData(uint32_t width, uint32_t height);
    void setTimestamp(uint64_t timestamp) override;
    void* getData(FrameType type) override;
    int getFormat(FrameType type, FrameDataFormat& out) override;

    std::unique_ptr<int16_t[]> data;
    FrameDataFormat format;
};

// Depth, amplitude and confidence planes of floats. Amplitude and confidence share one
// format record whose type is CONFIDENCE.
class DepthData : public QuarvelFrameBuffer {
public:
    DepthData(uint32_t width, uint32_t height);
    void setTimestamp(uint64_t timestamp) override;
    void* getData(FrameType type) override;
    int getFormat(FrameType type, FrameDataFormat& out) override;

    std::unique_ptr<float[]> confidence;
    std::unique_ptr<float[]> amplitude;
    std::unique_ptr<float[]> depth;
    FrameDataFormat depthFormat;
    FrameDataFormat confidenceFormat;
};

// Raw sensor bytes of one frame (all sub-frames), two bytes per sample.
class CacheData : public QuarvelFrameBuffer {
public:
    // width x height samples of two bytes; the format reports height x 2 lines of bytes.
    CacheData(uint32_t width, uint32_t height);
    void setTimestamp(uint64_t timestamp) override;
    void* getData(FrameType type) override;
    int getFormat(FrameType type, FrameDataFormat& out) override;

    size_t size() const { return byteCount; }

    std::unique_ptr<uint8_t[]> data;
    FrameDataFormat format;
    size_t byteCount;
};

}  // namespace Quarvel
