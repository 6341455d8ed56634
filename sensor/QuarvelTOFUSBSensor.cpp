// USB transport: SDK calls, sub-frame grouping by timestamp, sample conversion, range.
#include "sensor/QuarvelTOFUSBSensor.h"

#include <cstring>

#include "core/ComponentFactory.h"
#include "core/InstructionSetClones.h"

namespace Quarvel {

std::unique_ptr<QuarvelTOFSensor> createUsbSensor(const std::string& configPath, int index) {
    return std::make_unique<QuarvelTOFUSBSensor>(configPath, index);
}

namespace {

struct RegisterWrite {
    uint16_t reg;
    uint8_t value;
};
constexpr RegisterWrite kShortRangeTable[4] = {
    {0x216C, 0x08}, {0x2179, 0x0A}, {0x217A, 0x0E}, {0x217B, 0x12}};
constexpr RegisterWrite kLongRangeTable[4] = {
    {0x216C, 0x10}, {0x2179, 0x0E}, {0x217A, 0x16}, {0x217B, 0x1E}};

template <typename T>
T fieldAt(const void* record, size_t offset) {
    T value;
    std::memcpy(&value, static_cast<const uint8_t*>(record) + offset, sizeof value);
    return value;
}

template <typename T>
void setField(void* record, size_t offset, T value) {
    std::memcpy(static_cast<uint8_t*>(record) + offset, &value, sizeof value);
}

bool endsWithBin(const std::string& path) {
    static const char kSuffix[] = ".bin";
    const size_t length = sizeof kSuffix - 1;
    return path.size() >= length && path.compare(path.size() - length, length, kSuffix) == 0;
}

// Little-endian words. On little-endian hosts a plain (unaligned) word access, which the
// compiler vectorises in the conversion loops.
inline uint16_t loadWord(const uint8_t* at) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint16_t word;
    std::memcpy(&word, at, sizeof word);
    return word;
#else
    return static_cast<uint16_t>(at[0] | (at[1] << 8));
#endif
}

inline void storeWord(uint8_t* at, uint16_t word) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::memcpy(at, &word, sizeof word);
#else
    at[0] = static_cast<uint8_t>(word & 0xFF);
    at[1] = static_cast<uint8_t>(word >> 8);
#endif
}

#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define QUARVEL_USB_WORD_VECTORS 1
// 32 words (64 bytes) at a time, as two vectors of the compiler's generic kind: the AVX2
// and AVX-512 builds hold each in one register, the baseline each in two SSE2 registers. A
// 16-bit lane shifted by a run-time count stays one instruction per register; as a plain
// word loop, GCC widened every word to 32 bits and packed it back (0.5-0.7 of memcpy at
// AVX2). One 64-byte vector instead went through the stack in the AVX2 build.
typedef uint16_t WordVector __attribute__((vector_size(32)));
constexpr size_t kBlockWords = 2 * sizeof(WordVector) / 2;

// Words [0, blocks * kBlockWords) shifted left (or right) by `shift`, below 16. Source and
// destination must not overlap: each block is read whole before it is written.
template <bool Left>
__attribute__((always_inline)) inline void shiftWordBlocks(const uint8_t* __restrict source,
                                                           uint8_t* __restrict dst, size_t blocks,
                                                           unsigned shift) {
    constexpr size_t n = sizeof(WordVector);
    for (size_t b = 0; b < blocks; ++b) {
        WordVector low, high;
        std::memcpy(&low, source + 2 * n * b, n);
        std::memcpy(&high, source + 2 * n * b + n, n);
        low = Left ? low << shift : low >> shift;
        high = Left ? high << shift : high >> shift;
        std::memcpy(dst + 2 * n * b, &low, n);
        std::memcpy(dst + 2 * n * b + n, &high, n);
    }
}
#endif

// Every word of source shifted left (or right) by `shift`, below 16, to dst.
template <bool Left>
__attribute__((always_inline)) inline void shiftWords(const uint8_t* source, uint8_t* dst,
                                                      size_t words, unsigned shift) {
    size_t i = 0;
#if defined(QUARVEL_USB_WORD_VECTORS)
    // Overlapping buffers keep the word-by-word loop, whose result the blocks would change.
    const uintptr_t from = reinterpret_cast<uintptr_t>(source);
    const uintptr_t to = reinterpret_cast<uintptr_t>(dst);
    const bool apart = from + 2 * words <= to || to + 2 * words <= from;
    if (apart) {
        const size_t blocks = words / kBlockWords;
        shiftWordBlocks<Left>(source, dst, blocks, shift);
        i = blocks * kBlockWords;
    }
#endif
    for (; i < words; ++i) {
        const uint16_t word = loadWord(source + 2 * i);
        storeWord(dst + 2 * i, static_cast<uint16_t>(Left ? word << shift : word >> shift));
    }
}

inline __attribute__((always_inline)) size_t convertSamplesAtLevelBody(
    const uint8_t* source, size_t sourceBytes, uint32_t bitWidth, uint32_t bytesPerSample,
    uint8_t* dst, size_t dstCapacity) {
    // An empty frame may come without pixel data at all: nothing to read or write.
    if (sourceBytes == 0) return 0;
    if (bitWidth == 8 && bytesPerSample == 1) {
        const size_t produced = 2 * sourceBytes;
        if (dst == nullptr || produced > dstCapacity) return produced;
        for (size_t i = 0; i < sourceBytes; ++i) {
            storeWord(dst + 2 * i, static_cast<uint16_t>(source[i] << 4));
        }
        return produced;
    }
    const size_t produced = sourceBytes;
    if (dst == nullptr || bytesPerSample != 2 || produced > dstCapacity) return produced;
    const size_t words = sourceBytes / 2;
    if (bitWidth == 12) {
        std::memcpy(dst, source, 2 * words);
    } else if (bitWidth < 12) {
        shiftWords<true>(source, dst, words, 12 - bitWidth);
    } else if (bitWidth - 12 >= 16) {
        // A 16-bit word shifted right by 16 or more leaves 0; the shift itself, by the width
        // of int or more, would be undefined.
        std::memset(dst, 0, 2 * words);
    } else {
        shiftWords<false>(source, dst, words, bitWidth - 12);
    }
    return produced;
}

QUARVEL_LEVEL_BUILDS(size_t, convertSamplesAtLevel,
                     (const uint8_t* source, size_t sourceBytes, uint32_t bitWidth,
                      uint32_t bytesPerSample, uint8_t* dst, size_t dstCapacity),
                     (source, sourceBytes, bitWidth, bytesPerSample, dst, dstCapacity))

}  // namespace

QuarvelTOFUSBSensor::QuarvelTOFUSBSensor(std::string path, int /*index*/)
    : configPath(std::move(path)) {}

int QuarvelTOFUSBSensor::open(CameraInfo& cameraInfo) {
    alignas(8) uint8_t param[QUARVEL_OPEN_PARAM_SIZE] = {};
    QuarvelDefaultParam(param);
    if (!configPath.empty()) {
        setField<const char*>(param, QUARVEL_OPEN_PARAM_CONFIG_PATH, configPath.c_str());
        setField<uint8_t>(param, QUARVEL_OPEN_PARAM_BIN_FLAG, endsWithBin(configPath) ? 1 : 0);
    }
    if (QuarvelOpenCamera(&sdkHandle, param) != 0) return -1;
    if (QuarvelInitCamera(sdkHandle) != 0) return -1;

    alignas(8) uint8_t config[QUARVEL_CAMERA_CONFIG_SIZE] = {};
    QuarvelGetCameraConfig(sdkHandle, config);
    cameraInfo.width = fieldAt<uint32_t>(config, QUARVEL_CAMERA_CONFIG_WIDTH);
    cameraInfo.height = fieldAt<uint32_t>(config, QUARVEL_CAMERA_CONFIG_HEIGHT);
    cameraInfo.bit_width = fieldAt<uint8_t>(config, QUARVEL_CAMERA_CONFIG_BIT_WIDTH);
    cameraInfo.bpp = cameraInfo.bit_width > 8 ? 2 : 1;
    info = cameraInfo;
    return 0;
}

int QuarvelTOFUSBSensor::close() {
    // A refused close leaves the camera open in the SDK: keep the handle, so that the next
    // close (the camera's destruction closes again) releases it instead of leaking it.
    if (sdkHandle != nullptr && QuarvelCloseCamera(sdkHandle) == 0) sdkHandle = nullptr;
    streaming.store(false);
    return 0;
}

int QuarvelTOFUSBSensor::start() {
    if (streaming.load()) return -1;
    // Set first: a refused start stays "streaming" until stop, so a retry is refused too.
    streaming.store(true);
    return QuarvelStartCamera(sdkHandle) != 0 ? -1 : 0;
}

int QuarvelTOFUSBSensor::stop() {
    streaming.store(false);
    QuarvelStopCamera(sdkHandle);
    return 0;
}

CameraInfo QuarvelTOFUSBSensor::getCameraInfo() { return info; }

size_t QuarvelTOFUSBSensor::convertSamples(const uint8_t* source, size_t sourceBytes,
                                           uint32_t bitWidth, uint32_t bytesPerSample, uint8_t* dst,
                                           size_t dstCapacity) {
    return convertSamplesAtLevel(source, sourceBytes, bitWidth, bytesPerSample, dst, dstCapacity);
}

int QuarvelTOFUSBSensor::getFrame(uint8_t* dst, uint64_t* timestamp) {
    const size_t expected = static_cast<size_t>(info.width) * info.height * info.bpp;
    const size_t subframes = subframeCount > 0 ? static_cast<size_t>(subframeCount) : 0;
    // What the caller's buffer holds: width x height x subframeCount samples of 2 bytes.
    const size_t capacity = static_cast<size_t>(info.width) * info.height * 2 * subframes;
    uint64_t unusedTimestamp = 0;
    if (timestamp == nullptr) timestamp = &unusedTimestamp;

    int32_t gathered = 0;
    size_t writePosition = 0;
    uint64_t previous = 0;
    // A group with a missed capture lacks a sub-frame: its place in dst still holds an
    // older frame's samples, so the group must not be handed on as a frame.
    bool groupMissedCapture = false;
    while (gathered < subframeCount) {
        if (!streaming.load()) {
            ++gathered;
            continue;
        }
        if (QuarvelCaptureImage(sdkHandle, &imageFrame, kCaptureTimeoutMs) != 0) {
            // A missed capture still counts as a sub-frame of this group.
            ++gathered;
            groupMissedCapture = true;
            *timestamp = previous;
            continue;
        }
        const uint64_t frameTime =
            fieldAt<uint64_t>(imageFrame.bytes, QUARVEL_IMAGE_FRAME_TIMESTAMP);
        // Sub-frames of one frame are a few milliseconds apart: a larger step (or a step
        // back) means this frame begins a new group.
        if (gathered > 0 && frameTime - previous >= kGroupGapMs) {
            gathered = 0;
            writePosition = 0;
            groupMissedCapture = false;
        }
        const uint32_t size = fieldAt<uint32_t>(imageFrame.bytes, QUARVEL_IMAGE_FRAME_DATA_SIZE);
        const uint8_t* pixels = fieldAt<const uint8_t*>(imageFrame.bytes, QUARVEL_IMAGE_FRAME_DATA);
        if (size != expected || (pixels == nullptr && size != 0)) {
            QuarvelFreeImage(sdkHandle, imageFrame);
            return -1;
        }
        // Never past the caller's buffer, whatever the sizes reported.
        const bool fits = dst != nullptr && writePosition <= capacity;
        writePosition += convertSamples(pixels, size, info.bit_width, info.bpp,
                                        fits ? dst + writePosition : nullptr,
                                        fits ? capacity - writePosition : 0);
        previous = frameTime;
        QuarvelFreeImage(sdkHandle, imageFrame);
        ++gathered;
        *timestamp = previous;
    }
    return groupMissedCapture ? -1 : 0;
}

int QuarvelTOFUSBSensor::setControl(CameraCtrl ctrl, int value) {
    if (ctrl != CameraCtrl::RANGE) return QuarvelInvalidParameter;
    const RegisterWrite* table = value == 2000 ? kShortRangeTable : kLongRangeTable;
    for (int i = 0; i < 4; ++i) QuarvelWriteSensorReg(sdkHandle, table[i].reg, table[i].value);
    return QuarvelSuccess;
}

int QuarvelTOFUSBSensor::getControl(CameraCtrl, int*) { return QuarvelNotImplemented; }

}  // namespace Quarvel
