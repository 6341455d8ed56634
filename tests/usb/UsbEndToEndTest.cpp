// The whole road through Quarvel::QuarvelTOFCamera on the simulated USB camera: depth
// against the scene's ground truth within the noise model's bound, raw output against the
// synthesised samples, both ranges and every reported bit width.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "core/QuarvelTOFCamera.h"
#include "sdk/usb/quarvel_evk_sim.h"
#include "sim/scene/HqvgaRawSynthesis.h"
#include "sim/scene/SimulatedCameraConfig.h"
#include "tests/support/Waits.h"
#include "tests/usb/UsbTestSupport.h"

using namespace Quarvel;
using sim::HqvgaModulation;
using sim::HqvgaRawSynthesis;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kPixels = HqvgaRawSynthesis::kPixels;

sim::SimulatedCameraConfig parsed(const std::string& description) {
    sim::SimulatedCameraConfig config;
    std::string error;
    EXPECT_TRUE(sim::SimulatedCameraConfig::parse(description, config, error)) << error;
    return config;
}

// What the simulated HQVGA camera of a description will deliver, rebuilt from the same pieces.
struct ExpectedCamera {
    explicit ExpectedCamera(const std::string& description = "")
        : config(parsed(description)),
          truth(config.makeScene().render(config.imageGeometry())),
          synthesis(truth, config.hqvgaParams()) {}
    sim::SimulatedCameraConfig config;
    sim::GroundTruth truth;
    HqvgaRawSynthesis synthesis;
};

// How far the depth of one pixel may be from its ground truth under the noise model, or a
// negative value when no bound holds (saturated, too dim, too near the wrap). Each sample
// is off by at most kLimitSigmas sigma + 0.5 (rounding); a phase difference pairs two
// samples, so the (y, x) vector of length 2a moves by at most 2 sqrt(2) times that, which
// turns its angle by at most asin(error / 2a).
double depthBoundMm(const ExpectedCamera& camera, int pixel, HqvgaModulation modulation) {
    const HqvgaRawSynthesis& s = camera.synthesis;
    if (s.saturated(pixel, modulation)) return -1;
    const double perSample = sim::NoiseModel::kLimitSigmas * s.noiseSigmaLsb(pixel) + 0.5;
    const double ratio = std::sqrt(2.0) * perSample / s.amplitudeLsb(pixel);
    if (!(ratio < 0.5)) return -1;
    const double phaseError = std::asin(ratio);
    const double range = HqvgaRawSynthesis::unambiguousRangeMm(modulation);
    const double phase = 2 * kPi * camera.truth.distanceMm[pixel] / range;
    if (phase - phaseError <= 0 || phase + phaseError >= 2 * kPi) return -1;
    // The device's float arithmetic adds far less than the small allowance on top.
    return phaseError * range / (2 * kPi) + 0.05 + 1e-5 * camera.truth.distanceMm[pixel];
}

double median(std::vector<double> values) {
    if (values.empty()) return 1e9;
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

uint64_t frameTimestamp(QuarvelFrameBuffer* frame, FrameType type) {
    FrameDataFormat format{};
    frame->getFormat(type, format);
    return format.timestamp;
}

QuarvelSimDelivery deliveryOf(uint64_t timestamp) {
    QuarvelSimDelivery delivery{};
    EXPECT_EQ(QuarvelSimFindDelivery(timestamp, &delivery), 0) << "timestamp " << timestamp;
    return delivery;
}

// Compares one depth frame with the ground truth: every bounded pixel within its bound,
// median error under 1 % of the distance, amplitude near the modelled 16 a.
void expectTrueDepth(QuarvelFrameBuffer* frame, const ExpectedCamera& expected,
                     HqvgaModulation modulation, int minimumValid) {
    const QuarvelSimDelivery delivery = deliveryOf(frameTimestamp(frame, FrameType::DEPTH));
    EXPECT_EQ(delivery.subframe, 3);
    EXPECT_EQ(delivery.shortRange, modulation == HqvgaModulation::ShortRange ? 1 : 0);
    const float* depth = static_cast<float*>(frame->getData(FrameType::DEPTH));
    const float* amplitude = static_cast<float*>(frame->getData(FrameType::AMPLITUDE));
    std::vector<double> relative, amplitudeErrors;
    int outside = 0;
    for (int i = 0; i < kPixels; ++i) {
        const double bound = depthBoundMm(expected, i, modulation);
        if (bound < 0) continue;
        const double truth = expected.truth.distanceMm[i];
        const double error = std::fabs(depth[i] - truth);
        if (error > bound && ++outside <= 5) {
            ADD_FAILURE() << "pixel " << i << ": depth " << depth[i] << " truth " << truth
                          << " bound " << bound;
        }
        relative.push_back(error / truth);
        const double modelled = 16.0 * expected.synthesis.amplitudeLsb(i);
        amplitudeErrors.push_back(std::fabs(amplitude[i] - modelled) / modelled);
    }
    EXPECT_GE(static_cast<int>(relative.size()), minimumValid);
    EXPECT_EQ(outside, 0);
    EXPECT_LT(median(relative), 0.01);
    EXPECT_LT(median(amplitudeErrors), 0.05);
}

int signedValue(uint16_t sample) {
    const int field = sample & 0x7FF;
    return field >= 0x400 ? field - 0x800 : field;
}

}  // namespace

TEST(UsbCameraEndToEnd, DefaultCameraStreamsTheSceneDepthInBothRanges) {
    const ExpectedCamera expected;
    QuarvelTOFCamera camera;
    ASSERT_EQ(camera.open(Connection::USB, 0), 0);
    const CameraInfo info = camera.getCameraInfo();
    EXPECT_EQ(info.width, 240u);
    EXPECT_EQ(info.height, 180u);
    EXPECT_EQ(info.device_type, HQVGA);
    ASSERT_EQ(camera.start(FrameType::DEPTH), 0);
    // Starting applies the 4000 mm range: the long-range table, once.
    EXPECT_EQ(usbtest::registerLog(), usbtest::rangeTables({4000}));
    // Most of the standard scene lies within the 4 m range with a usable signal.
    for (int n = 0; n < 2; ++n) {
        QuarvelFrameBuffer* frame = camera.requestFrame(support::kFrameArrivalMs);
        ASSERT_NE(frame, nullptr);
        expectTrueDepth(frame, expected, HqvgaModulation::LongRange, kPixels * 6 / 10);
        EXPECT_EQ(camera.releaseFrame(frame), 0);
    }

    // 2000 while streaming switches the sensor. Frames captured in the long range may still
    // be waiting; the next ones are taken and computed in the short range.
    ASSERT_EQ(camera.setControl(CameraCtrl::RANGE, 2000), 0);
    EXPECT_EQ(usbtest::registerLog(), usbtest::rangeTables({4000, 2000}));
    int shortFrames = 0;
    for (int n = 0; n < 20 && shortFrames < 2; ++n) {
        QuarvelFrameBuffer* frame = camera.requestFrame(support::kFrameArrivalMs);
        ASSERT_NE(frame, nullptr);
        if (deliveryOf(frameTimestamp(frame, FrameType::DEPTH)).shortRange == 0) {
            camera.releaseFrame(frame);
            continue;
        }
        ++shortFrames;
        // Sphere, box and the near floor lie within 2 m; the back wall does not...
        expectTrueDepth(frame, expected, HqvgaModulation::ShortRange, kPixels / 5);
        // ...its phase wraps: at 3 m it reads about 1 m.
        const float* depth = static_cast<float*>(frame->getData(FrameType::DEPTH));
        std::vector<double> wallErrors;
        for (int i = 0; i < kPixels; ++i) {
            const double truth = expected.truth.distanceMm[i];
            if (truth < 2900 || truth > 3100 || expected.synthesis.amplitudeLsb(i) < 40) continue;
            wallErrors.push_back(std::fabs(depth[i] - (truth - 2000.0)));
        }
        EXPECT_GT(wallErrors.size(), 1000u);
        EXPECT_LT(median(wallErrors), 30.0);
        camera.releaseFrame(frame);
    }
    EXPECT_EQ(shortFrames, 2);
    EXPECT_EQ(camera.stop(), 0);
    EXPECT_EQ(camera.close(), 0);
}

class UsbCameraBitWidth : public ::testing::TestWithParam<int> {};

TEST_P(UsbCameraBitWidth, RawFramesAreTheSynthesisedSubframesInterleaved) {
    const int bits = GetParam();
    usbtest::ScratchDirectory scratch;
    const std::string description = "bit_width = " + std::to_string(bits) + "\n";
    const ExpectedCamera expected(description);
    QuarvelTOFCamera camera;
    ASSERT_EQ(camera.openWithFile(scratch.write("camera.conf", description).c_str(), 0), 0);
    EXPECT_EQ(camera.getCameraInfo().bit_width, static_cast<uint32_t>(bits));
    ASSERT_EQ(camera.start(FrameType::RAW), 0);
    QuarvelFrameBuffer* frame = camera.requestFrame(support::kFrameArrivalMs);
    ASSERT_NE(frame, nullptr);
    const QuarvelSimDelivery delivery = deliveryOf(frameTimestamp(frame, FrameType::RAW));
    ASSERT_EQ(delivery.subframe, 3);
    const HqvgaModulation modulation =
        delivery.shortRange ? HqvgaModulation::ShortRange : HqvgaModulation::LongRange;
    // Below 12 bits the camera drops the low bits of each 12-bit pattern.
    const uint16_t kept = static_cast<uint16_t>(0xFFF & ~((1 << std::max(0, 12 - bits)) - 1));
    std::vector<uint16_t> sub(kPixels);
    const int16_t* plane = static_cast<int16_t*>(frame->getData(FrameType::RAW));
    for (int k = 0; k < 4; ++k) {
        expected.synthesis.synthesize(delivery.frame, k, modulation, sub.data(), kPixels);
        // Line r of sub-frame k becomes line 4r + k of the 240x720 plane, as 16 x value.
        for (int r = 0; r < 180; ++r) {
            for (int c = 0; c < 240; ++c) {
                ASSERT_EQ(plane[(4 * r + k) * 240 + c],
                          16 * signedValue(static_cast<uint16_t>(sub[r * 240 + c] & kept)))
                    << "sub-frame " << k << " line " << r << " column " << c;
            }
        }
    }
    camera.releaseFrame(frame);
    EXPECT_EQ(camera.stop(), 0);
}

INSTANTIATE_TEST_SUITE_P(ReportedWidths, UsbCameraBitWidth, ::testing::Values(8, 10, 12, 14));

TEST(UsbCameraEndToEnd, UnthrottledCameraKeepsGroupingAndDepth) {
    usbtest::ScratchDirectory scratch;
    const std::string description = "pacing = unthrottled\nfps = 50\n";
    const ExpectedCamera expected(description);
    QuarvelTOFCamera camera;
    ASSERT_EQ(camera.openWithFile(scratch.write("camera.conf", description).c_str(), 0), 0);
    ASSERT_EQ(camera.start(FrameType::DEPTH), 0);
    uint64_t previous = 0;
    for (int n = 0; n < 4; ++n) {
        QuarvelFrameBuffer* frame = camera.requestFrame(support::kFrameArrivalMs);
        ASSERT_NE(frame, nullptr);
        const uint64_t timestamp = frameTimestamp(frame, FrameType::DEPTH);
        // Timestamps advance by whole frame periods (20 ms at 50 fps) of the sensor clock.
        if (previous != 0) {
            EXPECT_GT(timestamp, previous);
            EXPECT_EQ((timestamp - previous) % 20, 0u);
        }
        previous = timestamp;
        expectTrueDepth(frame, expected, HqvgaModulation::LongRange, kPixels * 6 / 10);
        camera.releaseFrame(frame);
    }
    EXPECT_EQ(camera.stop(), 0);
}

// The simulated camera runs from its own clock: a frame's timestamp is its place on the
// 30 fps schedule (frame n's last sub-frame, n/30 s + 6 ms after the stream's start), and
// no sub-frame is handed over before the time it is stamped with.
TEST(UsbCameraEndToEnd, TimestampsFollowTheScheduleAndNeverRunAheadOfDelivery) {
    QuarvelTOFCamera camera;
    ASSERT_EQ(camera.open(Connection::USB, 0), 0);
    ASSERT_EQ(camera.setControl(CameraCtrl::AUTO_FRAME_RATE, 0), 0);
    ASSERT_EQ(camera.start(FrameType::RAW), 0);
    int64_t streamStartMs = -1;
    for (int n = 0; n < 15; ++n) {
        QuarvelFrameBuffer* frame = camera.requestFrame(support::kFrameArrivalMs);
        ASSERT_NE(frame, nullptr);
        const uint64_t timestamp = frameTimestamp(frame, FrameType::RAW);
        const QuarvelSimDelivery delivery = deliveryOf(timestamp);
        EXPECT_EQ(delivery.subframe, 3);
        const auto scheduledMs = static_cast<int64_t>(delivery.frame * 1000 / 30) + 6;
        const int64_t startMs = static_cast<int64_t>(timestamp) - scheduledMs;
        if (streamStartMs < 0) streamStartMs = startMs;
        EXPECT_EQ(startMs, streamStartMs) << "frame " << delivery.frame;
        EXPECT_LE(static_cast<int64_t>(timestamp) * 1000000, delivery.handedOverNs);
        camera.releaseFrame(frame);
    }
    EXPECT_EQ(camera.stop(), 0);
}
