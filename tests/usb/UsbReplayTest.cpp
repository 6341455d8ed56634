// The replaying simulated camera (`pacing = replay`): which samples each frame carries, the
// timestamps the transport groups by, both ranges, the VGA frame, and the hand-over time.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

#include "sdk/usb/quarvel_evk_sim.h"
#include "sensor/QuarvelTOFUSBSensor.h"
#include "sim/scene/HqvgaRawSynthesis.h"
#include "sim/scene/SimulatedCameraConfig.h"
#include "sim/scene/VgaRawSynthesis.h"
#include "tests/usb/UsbTestSupport.h"

using namespace Quarvel;
using sim::HqvgaModulation;
using sim::HqvgaRawSynthesis;

namespace {

constexpr size_t kPixels = HqvgaRawSynthesis::kPixels;
constexpr uint64_t kReplayFrames = 4;

sim::SimulatedCameraConfig parsed(const std::string& description) {
    sim::SimulatedCameraConfig config;
    std::string error;
    EXPECT_TRUE(sim::SimulatedCameraConfig::parse(description, config, error)) << error;
    return config;
}

// The four sub-frames of synthesised frame `frame` as the transport's 16-bit words.
std::vector<uint8_t> synthesisedFrame(const HqvgaRawSynthesis& synthesis, uint64_t frame,
                                      HqvgaModulation modulation) {
    std::vector<uint8_t> bytes(2 * kPixels * HqvgaRawSynthesis::kSubframes);
    std::vector<uint16_t> samples(kPixels);
    for (int k = 0; k < HqvgaRawSynthesis::kSubframes; ++k) {
        EXPECT_EQ(synthesis.synthesize(frame, k, modulation, samples.data(), samples.size()),
                  kPixels);
        for (size_t i = 0; i < kPixels; ++i) usbtest::putWord(bytes, k * kPixels + i, samples[i]);
    }
    return bytes;
}

QuarvelSimDelivery deliveryOf(uint64_t timestamp) {
    QuarvelSimDelivery delivery{};
    EXPECT_EQ(QuarvelSimFindDelivery(timestamp, &delivery), 0) << "timestamp " << timestamp;
    return delivery;
}

int64_t monotonicNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

TEST(UsbReplay, FramesRepeatTheFirstFourSynthesisedFramesWithPacedTimestamps) {
    usbtest::ScratchDirectory scratch;
    const std::string description = "pacing = replay\nfps = 50\n";
    const sim::SimulatedCameraConfig config = parsed(description);
    const HqvgaRawSynthesis synthesis(config.makeScene().render(config.imageGeometry()),
                                      config.hqvgaParams());
    std::vector<std::vector<uint8_t>> expected;
    for (uint64_t n = 0; n < kReplayFrames; ++n) {
        expected.push_back(synthesisedFrame(synthesis, n, HqvgaModulation::LongRange));
    }
    // Noise differs from frame to frame, so each frame names its source.
    ASSERT_NE(expected[0], expected[1]);

    QuarvelTOFUSBSensor sensor(scratch.write("replay.conf", description), 0);
    CameraInfo info{};
    ASSERT_EQ(sensor.open(info), 0);
    sensor.subframeCount = 4;
    ASSERT_EQ(sensor.start(), 0);
    std::vector<uint8_t> dst(expected[0].size());
    uint64_t previous = 0;
    for (uint64_t n = 0; n < 2 * kReplayFrames + 1; ++n) {
        uint64_t timestamp = 0;
        ASSERT_EQ(sensor.getFrame(dst.data(), &timestamp), 0);
        EXPECT_TRUE(dst == expected[n % kReplayFrames]) << "frame " << n;
        // The four sub-frames lie 2 ms apart on the sensor clock and frames 20 ms apart, so
        // the transport's 6 ms grouping rule holds although nothing waits.
        for (int k = 0; k < 4; ++k) {
            const QuarvelSimDelivery delivery = deliveryOf(timestamp - 2 * (3 - k));
            EXPECT_EQ(delivery.frame, n);
            EXPECT_EQ(delivery.subframe, k);
            EXPECT_EQ(delivery.shortRange, 0);
        }
        if (n > 0) {
            EXPECT_EQ(timestamp - previous, 20u);
        }
        previous = timestamp;
    }

    // The short range replays frames of its own modulation from the next frame on.
    ASSERT_EQ(sensor.setControl(CameraCtrl::RANGE, 2000), 0);
    uint64_t timestamp = 0;
    ASSERT_EQ(sensor.getFrame(dst.data(), &timestamp), 0);
    const QuarvelSimDelivery delivery = deliveryOf(timestamp);
    EXPECT_EQ(delivery.shortRange, 1);
    EXPECT_TRUE(dst == synthesisedFrame(synthesis, delivery.frame % kReplayFrames,
                                        HqvgaModulation::ShortRange));
    sensor.stop();
    sensor.close();
}

TEST(UsbReplay, HandOverTimeIsTheMonotonicMomentTheCaptureReturned) {
    usbtest::ScratchDirectory scratch;
    QuarvelTOFUSBSensor sensor(scratch.write("replay.conf", "pacing = replay\n"), 0);
    CameraInfo info{};
    ASSERT_EQ(sensor.open(info), 0);
    sensor.subframeCount = 4;
    ASSERT_EQ(sensor.start(), 0);
    std::vector<uint8_t> dst(2 * kPixels * 4);
    int64_t previous = 0;
    for (int n = 0; n < 3; ++n) {
        const int64_t before = monotonicNs();
        uint64_t timestamp = 0;
        ASSERT_EQ(sensor.getFrame(dst.data(), &timestamp), 0);
        const int64_t after = monotonicNs();
        const QuarvelSimDelivery last = deliveryOf(timestamp);
        const QuarvelSimDelivery first = deliveryOf(timestamp - 6);
        EXPECT_GE(first.handedOverNs, before);
        EXPECT_LE(first.handedOverNs, last.handedOverNs);
        EXPECT_LE(last.handedOverNs, after);
        EXPECT_GT(first.handedOverNs, previous);
        previous = last.handedOverNs;
    }
    sensor.close();
}

TEST(UsbReplay, VgaCameraReplaysItsWholeRawFrames) {
    usbtest::ScratchDirectory scratch;
    const std::string description = "sensor = vga\npacing = replay\n";
    const sim::SimulatedCameraConfig config = parsed(description);
    const sim::VgaRawSynthesis synthesis(config.makeScene().render(config.imageGeometry()),
                                         config.vgaParams());
    std::vector<uint16_t> samples(synthesis.rawSamples(config.vgaFrequency));

    QuarvelTOFUSBSensor sensor(scratch.write("vga.conf", description), 0);
    CameraInfo info{};
    ASSERT_EQ(sensor.open(info), 0);
    sensor.subframeCount = 1;
    ASSERT_EQ(sensor.start(), 0);
    std::vector<uint8_t> dst(2 * samples.size());
    for (uint64_t n = 0; n < kReplayFrames + 2; ++n) {
        uint64_t timestamp = 0;
        ASSERT_EQ(sensor.getFrame(dst.data(), &timestamp), 0);
        EXPECT_EQ(deliveryOf(timestamp).frame, n);
        ASSERT_EQ(synthesis.synthesize(n % kReplayFrames, config.vgaFrequency, samples.data(),
                                       samples.size()),
                  samples.size());
        EXPECT_EQ(std::memcmp(dst.data(), samples.data(), dst.size()), 0) << "frame " << n;
    }
    sensor.close();
}
