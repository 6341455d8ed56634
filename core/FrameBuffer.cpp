// Frame buffer planes and their format records.
#include "core/FrameBuffer.h"

namespace Quarvel {

namespace {
size_t elementCount(uint32_t width, uint32_t height) {
    return static_cast<size_t>(width) * static_cast<size_t>(height);
}
}  // namespace

RawData::RawData(uint32_t width, uint32_t height)
    : data(new int16_t[elementCount(width, height)]()),
      format{width, height, FrameType::RAW, 0} {}

void RawData::setTimestamp(uint64_t timestamp) { format.timestamp = timestamp; }

void* RawData::getData(FrameType type) {
    return type == FrameType::RAW ? data.get() : nullptr;
}

int RawData::getFormat(FrameType type, FrameDataFormat& out) {
    if (type != FrameType::RAW) return -1;
    out = format;
    return 0;
}

DepthData::DepthData(uint32_t width, uint32_t height)
    : confidence(new float[elementCount(width, height)]()),
      amplitude(new float[elementCount(width, height)]()),
      depth(new float[elementCount(width, height)]()),
      depthFormat{width, height, FrameType::DEPTH, 0},
      confidenceFormat{width, height, FrameType::CONFIDENCE, 0} {}

void DepthData::setTimestamp(uint64_t timestamp) {
    depthFormat.timestamp = timestamp;
    confidenceFormat.timestamp = timestamp;
}

void* DepthData::getData(FrameType type) {
    switch (type) {
        case FrameType::CONFIDENCE: return confidence.get();
        case FrameType::AMPLITUDE: return amplitude.get();
        case FrameType::DEPTH: return depth.get();
        default: return nullptr;
    }
}

int DepthData::getFormat(FrameType type, FrameDataFormat& out) {
    switch (type) {
        case FrameType::DEPTH: out = depthFormat; return 0;
        case FrameType::CONFIDENCE:
        case FrameType::AMPLITUDE: out = confidenceFormat; return 0;
        default: return -1;
    }
}

CacheData::CacheData(uint32_t width, uint32_t height)
    : data(new uint8_t[elementCount(width, height) * 2]()),
      format{width, height * 2, FrameType::CACHE, 0},
      byteCount(elementCount(width, height) * 2) {}

void CacheData::setTimestamp(uint64_t timestamp) { format.timestamp = timestamp; }

void* CacheData::getData(FrameType type) {
    return type == FrameType::CACHE ? data.get() : nullptr;
}

int CacheData::getFormat(FrameType type, FrameDataFormat& out) {
    if (type != FrameType::CACHE) return -1;
    out = format;
    return 0;
}

}  // namespace Quarvel
