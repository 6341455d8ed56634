// The simulated camera: paced sub-frames synthesised on demand or replayed, registers, lent
// buffers.
#include "sdk/usb/SimulatedUsbCamera.h"

#include <algorithm>
#include <cstring>

namespace Quarvel {
namespace evk {

namespace {
using Clock = std::chrono::steady_clock;

constexpr int kBuffers = 4;  // frames the caller may hold at once
constexpr size_t kDeliveriesKept = 256;
constexpr uint16_t kRangeRegisters[4] = {0x216C, 0x2179, 0x217A, 0x217B};
constexpr uint8_t kShortRangeValues[4] = {0x08, 0x0A, 0x0E, 0x12};
constexpr uint8_t kLongRangeValues[4] = {0x10, 0x0E, 0x16, 0x1E};

template <typename T>
void put(uint8_t* record, size_t offset, T value) {
    std::memcpy(record + offset, &value, sizeof value);
}
template <typename T>
T get(const uint8_t* record, size_t offset) {
    T value;
    std::memcpy(&value, record + offset, sizeof value);
    return value;
}
}  // namespace

SimulatedUsbCamera::SimulatedUsbCamera(const sim::SimulatedCameraConfig& description)
    : config(description),
      subframesPerFrame(description.timing().subframesPerFrame),
      pacer(description.timing()) {}

int SimulatedUsbCamera::init() {
    MutexLock capturing(captureMutex);
    {
        MutexLock lock(stateMutex);
        if (closed) return QUARVEL_EVK_NOT_READY;
        if (initialised) return QUARVEL_EVK_SUCCESS;
    }
    const sim::GroundTruth truth = config.makeScene().render(config.imageGeometry());
    if (config.sensor == sim::SensorModel::Hqvga) {
        hqvga = std::make_unique<sim::HqvgaRawSynthesis>(truth, config.hqvgaParams());
        samplesPerFrame = sim::HqvgaRawSynthesis::kPixels;
    } else {
        vga = std::make_unique<sim::VgaRawSynthesis>(truth, config.vgaParams());
        samplesPerFrame = vga->rawSamples(config.vgaFrequency);
    }
    samples.assign(samplesPerFrame, 0);
    if (config.replay) synthesizeReplay();
    MutexLock lock(stateMutex);
    buffers.assign(kBuffers, Buffer{});
    initialised = true;
    return QUARVEL_EVK_SUCCESS;
}

void SimulatedUsbCamera::synthesizeReplay() {
    const int subframes = subframesPerFrame;
    const size_t bytes = samplesPerFrame * bytesPerSample();
    // The VGA sensor has one modulation setting; the HQVGA sensor switches by register.
    const int modulations = hqvga ? 2 : 1;
    for (int m = 0; m < modulations; ++m) {
        const sim::HqvgaModulation modulation =
            m == 0 ? sim::HqvgaModulation::LongRange : sim::HqvgaModulation::ShortRange;
        replayed[m].assign(kReplayFrames * static_cast<uint64_t>(subframes),
                           std::vector<uint8_t>(bytes));
        for (uint64_t frame = 0; frame < kReplayFrames; ++frame) {
            for (int subframe = 0; subframe < subframes; ++subframe) {
                if (hqvga) {
                    hqvga->synthesize(frame, subframe, modulation, samples.data(), samples.size());
                } else {
                    vga->synthesize(frame, config.vgaFrequency, samples.data(), samples.size());
                }
                std::vector<uint8_t>& stored =
                    replayed[m][frame * static_cast<uint64_t>(subframes) +
                                static_cast<uint64_t>(subframe)];
                encodeSamples(samples.data(), samplesPerFrame, stored.data());
            }
        }
    }
}

const std::vector<uint8_t>& SimulatedUsbCamera::replayedSubframe(
    const sim::SubframeSlot& slot, sim::HqvgaModulation modulation) const {
    const int m = hqvga && modulation == sim::HqvgaModulation::ShortRange ? 1 : 0;
    const uint64_t subframes = static_cast<uint64_t>(subframesPerFrame);
    return replayed[m][(slot.frame % kReplayFrames) * subframes +
                       static_cast<uint64_t>(slot.subframe)];
}

void SimulatedUsbCamera::fillConfig(uint8_t* record) const {
    std::memset(record, 0, QUARVEL_CAMERA_CONFIG_SIZE);
    put<uint32_t>(record, 0, config.sensor == sim::SensorModel::Hqvga ? 1u : 0u);
    put<uint32_t>(record, 4, static_cast<uint32_t>(config.framesPerSecond * 1000.0));
    put<uint32_t>(record, 8, config.vgaFrequency == sim::VgaFrequencyMode::Dual ? 2u : 1u);
    put<uint32_t>(record, QUARVEL_CAMERA_CONFIG_WIDTH,
                  static_cast<uint32_t>(config.reportedWidth()));
    put<uint32_t>(record, QUARVEL_CAMERA_CONFIG_HEIGHT,
                  static_cast<uint32_t>(config.reportedHeight()));
    put<uint8_t>(record, QUARVEL_CAMERA_CONFIG_BIT_WIDTH, static_cast<uint8_t>(config.bitWidth));
    put<uint8_t>(record, QUARVEL_CAMERA_CONFIG_BIT_WIDTH + 1,
                 static_cast<uint8_t>(bytesPerSample()));
}

int SimulatedUsbCamera::start() {
    MutexLock lock(stateMutex);
    if (closed || !initialised) return QUARVEL_EVK_NOT_READY;
    if (streaming) return QUARVEL_EVK_BUSY;
    pacer.start(Clock::now());
    streaming = true;
    stateChanged.notifyAll();
    return QUARVEL_EVK_SUCCESS;
}

int SimulatedUsbCamera::stop() {
    MutexLock lock(stateMutex);
    streaming = false;
    stateChanged.notifyAll();
    return QUARVEL_EVK_SUCCESS;
}

void SimulatedUsbCamera::shutdown() {
    MutexLock lock(stateMutex);
    streaming = false;
    closed = true;
    stateChanged.notifyAll();
}

bool SimulatedUsbCamera::shortRangeRegisters() const {
    return std::equal(registers, registers + 4, kShortRangeValues);
}

bool SimulatedUsbCamera::longRangeRegisters() const {
    return std::equal(registers, registers + 4, kLongRangeValues);
}

int SimulatedUsbCamera::writeRegister(uint16_t reg, uint8_t value) {
    MutexLock lock(stateMutex);
    if (closed) return QUARVEL_EVK_NOT_READY;
    for (int i = 0; i < 4; ++i) {
        if (kRangeRegisters[i] == reg) registers[i] = value;
    }
    return QUARVEL_EVK_SUCCESS;
}

int SimulatedUsbCamera::lendBuffer(size_t bytes) {
    for (size_t i = 0; i < buffers.size(); ++i) {
        if (!buffers[i].lent) {
            buffers[i].bytes.resize(bytes);
            buffers[i].lent = true;
            return static_cast<int>(i);
        }
    }
    return -1;
}

void SimulatedUsbCamera::fillFrameRecord(QuarvelImageFrame* frame, int buffer, uint64_t timestampMs,
                                         uint64_t frameNumber, int subframe) const {
    uint8_t* record = reinterpret_cast<uint8_t*>(frame->bytes);
    const Buffer& lent = buffers[static_cast<size_t>(buffer)];
    std::memset(record, 0, QUARVEL_IMAGE_FRAME_SIZE);
    put<uint64_t>(record, 0, static_cast<uint64_t>(buffer) + 1);  // 0 never names a buffer
    put<uint64_t>(record, QUARVEL_IMAGE_FRAME_TIMESTAMP, timestampMs);
    put<uint32_t>(record, 16, static_cast<uint32_t>(frameNumber));
    put<uint32_t>(record, 20, static_cast<uint32_t>(subframe));
    put<uint32_t>(record, QUARVEL_IMAGE_FRAME_DATA_SIZE, static_cast<uint32_t>(lent.bytes.size()));
    put<const uint8_t*>(record, QUARVEL_IMAGE_FRAME_DATA, lent.bytes.data());
}

void SimulatedUsbCamera::encodeSamples(const uint16_t* in, size_t count, uint8_t* out) const {
    // The sensor's samples are 12 bits; the camera reports them at its configured width.
    switch (config.bitWidth) {
        case 8:
            for (size_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>(in[i] >> 4);
            return;
        default:
            break;
    }
    const int shift = config.bitWidth - 12;
    for (size_t i = 0; i < count; ++i) {
        const uint16_t word = static_cast<uint16_t>(shift >= 0 ? in[i] << shift : in[i] >> -shift);
        out[2 * i] = static_cast<uint8_t>(word & 0xFF);
        out[2 * i + 1] = static_cast<uint8_t>(word >> 8);
    }
}

int SimulatedUsbCamera::capture(QuarvelImageFrame* frame, int timeoutMs) {
    if (frame == nullptr) return QUARVEL_EVK_ERROR;
    MutexLock capturing(captureMutex);
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(std::max(0, timeoutMs));

    MutexLock lock(stateMutex);
    sim::SubframeSlot slot;
    for (;;) {
        if (closed || !initialised) return QUARVEL_EVK_NOT_READY;
        if (streaming && !script.empty()) {
            Scripted next = std::move(script.front());
            script.pop_front();
            if (next.missed) return QUARVEL_EVK_CAPTURE_FAILED;
            const int buffer = lendBuffer(next.bytes.size());
            if (buffer < 0) return QUARVEL_EVK_NO_BUFFER;
            std::copy(next.bytes.begin(), next.bytes.end(), buffers[buffer].bytes.begin());
            fillFrameRecord(frame, buffer, next.timestampMs, 0, 0);
            return QUARVEL_EVK_SUCCESS;
        }
        const Clock::time_point now = Clock::now();
        if (streaming) {
            slot = pacer.next(now);
            if (slot.due <= now) break;
        }
        if (now >= deadline) return QUARVEL_EVK_TIMEOUT;
        stateChanged.waitUntil(lock, streaming ? std::min(slot.due, deadline) : deadline);
    }

    pacer.take(slot);
    // The sensor latches its range registers when a frame begins.
    if (slot.subframe == 0) {
        if (shortRangeRegisters())
            modulation = sim::HqvgaModulation::ShortRange;
        else if (longRangeRegisters())
            modulation = sim::HqvgaModulation::LongRange;
    }
    const sim::HqvgaModulation frameModulation = modulation;
    const int buffer = lendBuffer(samplesPerFrame * bytesPerSample());
    if (buffer < 0) return QUARVEL_EVK_NO_BUFFER;  // the sub-frame is lost, as on a real link
    std::vector<uint8_t>& out = buffers[static_cast<size_t>(buffer)].bytes;
    lock.unlock();

    // The lent buffer and `samples` are this capture's alone, and the replayed frames are
    // read-only after init: no lock needed.
    Clock::duration synthesis{};
    if (config.replay) {
        const std::vector<uint8_t>& stored = replayedSubframe(slot, frameModulation);
        std::memcpy(out.data(), stored.data(), std::min(stored.size(), out.size()));
    } else {
        const Clock::time_point synthesisStart = Clock::now();
        if (hqvga) {
            hqvga->synthesize(slot.frame, slot.subframe, frameModulation, samples.data(),
                              samples.size());
        } else {
            vga->synthesize(slot.frame, config.vgaFrequency, samples.data(), samples.size());
        }
        encodeSamples(samples.data(), samplesPerFrame, out.data());
        synthesis = Clock::now() - synthesisStart;
    }

    lock.lock();
    // The sensor clock waits for the simulation only where it could not keep up (beyond a
    // sub-frame's share of the frame period); otherwise the schedule stays absolute.
    pacer.hold(synthesis);
    fillFrameRecord(frame, buffer, slot.timestampMs, slot.frame, slot.subframe);
    QuarvelSimDelivery what{};
    what.frame = slot.frame;
    what.subframe = slot.subframe;
    what.shortRange = frameModulation == sim::HqvgaModulation::ShortRange ? 1 : 0;
    what.handedOverNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
            .count();
    deliveries.push_back({slot.timestampMs, what});
    if (deliveries.size() > kDeliveriesKept) deliveries.pop_front();
    return QUARVEL_EVK_SUCCESS;
}

int SimulatedUsbCamera::release(const QuarvelImageFrame& frame) {
    const uint8_t* record = reinterpret_cast<const uint8_t*>(frame.bytes);
    const uint64_t id = get<uint64_t>(record, 0);
    const uint8_t* data = get<const uint8_t*>(record, QUARVEL_IMAGE_FRAME_DATA);
    MutexLock lock(stateMutex);
    if (id == 0 || id > buffers.size()) return QUARVEL_EVK_ERROR;
    Buffer& buffer = buffers[static_cast<size_t>(id - 1)];
    if (!buffer.lent || buffer.bytes.data() != data) return QUARVEL_EVK_ERROR;
    buffer.lent = false;
    return QUARVEL_EVK_SUCCESS;
}

void SimulatedUsbCamera::queueFrame(uint64_t timestampMs, const void* data, uint32_t size) {
    Scripted entry;
    entry.timestampMs = timestampMs;
    if (data != nullptr) {
        const uint8_t* bytes = static_cast<const uint8_t*>(data);
        entry.bytes.assign(bytes, bytes + size);
    }
    MutexLock lock(stateMutex);
    script.push_back(std::move(entry));
    stateChanged.notifyAll();
}

void SimulatedUsbCamera::queueMissedCapture() {
    Scripted entry;
    entry.missed = true;
    MutexLock lock(stateMutex);
    script.push_back(std::move(entry));
    stateChanged.notifyAll();
}

int SimulatedUsbCamera::framesLent() const {
    MutexLock lock(stateMutex);
    return static_cast<int>(
        std::count_if(buffers.begin(), buffers.end(), [](const Buffer& b) { return b.lent; }));
}

bool SimulatedUsbCamera::findDelivery(uint64_t timestampMs, QuarvelSimDelivery& delivery) const {
    MutexLock lock(stateMutex);
    for (auto it = deliveries.rbegin(); it != deliveries.rend(); ++it) {
        if (it->timestampMs == timestampMs) {
            delivery = it->what;
            return true;
        }
    }
    return false;
}

}  // namespace evk
}  // namespace Quarvel
