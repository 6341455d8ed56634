// The whole road through Quarvel::QuarvelTOFCamera on the simulated USB camera: depth
// against the scene's ground truth within the noise model's bound, raw output against the
// synthesised samples, both ranges, every reported bit width, and the VGA raw frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <ostream>
#include <vector>

#include "core/QuarvelTOFCamera.h"
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

constexpr double kPi = 3.14159265358979323846;
constexpr int kPixels = HqvgaRawSynthesis::kPixels;

// What the simulated camera of a description will deliver, rebuilt from the same pieces.
struct ExpectedCamera {
    explicit ExpectedCamera(const std::string& description = "") {
        std::string error;
        EXPECT_TRUE(sim::SimulatedCameraConfig::parse(description, config, error)) << error;
        truth = config.makeScene().render(config.imageGeometry());
        synthesis = std::make_unique<HqvgaRawSynthesis>(truth, config.hqvgaParams());
    }
    sim::SimulatedCameraConfig config;
    sim::GroundTruth truth;
    std::unique_ptr<HqvgaRawSynthesis> synthesis;
};

// Largest error (LSB) that reaching the camera's bit width and back adds to a sample:
// the camera drops the low bits of the 12-bit pattern, the transport shifts back in zeros.
double truncationLsb(int bitWidth) { return bitWidth < 12 ? (1 << (12 - bitWidth)) - 1 : 0; }

// How far the depth of one pixel may be from its ground truth under the noise model, or a
// negative value when no bound holds (saturated, too dim, beyond or too near the wrap).
// Each sample is off by at most kLimitSigmas sigma + 0.5 (rounding) + truncation; a phase
// difference pairs two samples, so the (y, x) vector of length 2a moves by at most
// 2 sqrt(2) times that, which turns its angle by at most asin(error / 2a).
double depthBoundMm(const ExpectedCamera& camera, int pixel, HqvgaModulation modulation) {
    const HqvgaRawSynthesis& s = *camera.synthesis;
    if (s.saturated(pixel, modulation)) return -1;
    const double perSample = sim::NoiseModel::kLimitSigmas * s.noiseSigmaLsb(pixel) + 0.5 +
                             truncationLsb(camera.config.bitWidth);
    const double ratio = 2.0 * std::sqrt(2.0) * perSample / (2.0 * s.amplitudeLsb(pixel));
    if (!(ratio < 0.5)) return -1;
    const double phaseError = std::asin(ratio);
    const double range = HqvgaRawSynthesis::unambiguousRangeMm(modulation);
    const double phase = 2 * kPi * camera.truth.distanceMm[pixel] / range;
    if (phase - phaseError <= 0 || phase + phaseError >= 2 * kPi) return -1;
    // The device's float arithmetic adds far less than this.
    return phaseError * range / (2 * kPi) + 0.05 + 1e-5 * camera.truth.distanceMm[pixel];
}

struct DepthComparison {
    int valid = 0;
    int outside = 0;  // valid pixels farther from the truth than their bound
    double medianRelativeError = 1.0;
    double medianAmplitudeError = 1.0;  // relative to the modelled 16 a
};

DepthComparison compareWithTruth(const ExpectedCamera& camera, HqvgaModulation modulation,
                                 const float* depth, const float* amplitude) {
    DepthComparison result;
    std::vector<double> relative, amplitudeErrors;
    for (int i = 0; i < kPixels; ++i) {
        const double bound = depthBoundMm(camera, i, modulation);
        if (bound < 0) continue;
        ++result.valid;
        const double truth = camera.truth.distanceMm[i];
        const double error = std::fabs(depth[i] - truth);
        if (error > bound) {
            if (result.outside < 5) {
                ADD_FAILURE() << "pixel " << i << ": depth " << depth[i] << " truth " << truth
                              << " bound " << bound;
            }
            ++result.outside;
        }
        relative.push_back(error / truth);
        // amplitude = 0.5 |16 (difference vector)| = 16 a.
        const double modelled = 16.0 * camera.synthesis->amplitudeLsb(i);
        amplitudeErrors.push_back(std::fabs(amplitude[i] - modelled) / modelled);
    }
    if (!relative.empty()) {
        std::nth_element(relative.begin(), relative.begin() + relative.size() / 2, relative.end());
        result.medianRelativeError = relative[relative.size() / 2];
        std::nth_element(amplitudeErrors.begin(),
                         amplitudeErrors.begin() + amplitudeErrors.size() / 2,
                         amplitudeErrors.end());
        result.medianAmplitudeError = amplitudeErrors[amplitudeErrors.size() / 2];
    }
    return result;
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

int signedValue(uint16_t sample) {
    const int field = sample & 0x7FF;
    return field >= 0x400 ? field - 0x800 : field;
}

// Streams `frames` depth frames and compares each with the ground truth.
void expectTrueDepth(QuarvelTOFCamera& camera, const ExpectedCamera& expected,
                     HqvgaModulation modulation, int frames, int minimumValid) {
    for (int n = 0; n < frames; ++n) {
        QuarvelFrameBuffer* frame = camera.requestFrame(3000);
        ASSERT_NE(frame, nullptr);
        const QuarvelSimDelivery delivery = deliveryOf(frameTimestamp(frame, FrameType::DEPTH));
        EXPECT_EQ(delivery.subframe, 3);
        EXPECT_EQ(delivery.shortRange, modulation == HqvgaModulation::ShortRange ? 1 : 0);
        const DepthComparison result = compareWithTruth(
            expected, modulation, static_cast<float*>(frame->getData(FrameType::DEPTH)),
            static_cast<float*>(frame->getData(FrameType::AMPLITUDE)));
        EXPECT_GE(result.valid, minimumValid);
        EXPECT_EQ(result.outside, 0);
        EXPECT_LT(result.medianRelativeError, 0.01);
        EXPECT_LT(result.medianAmplitudeError, 0.05);
        EXPECT_EQ(camera.releaseFrame(frame), 0);
    }
}

std::vector<uint8_t> registerLog() {
    std::vector<uint8_t> log(QuarvelSimRegisterLog(nullptr, 0));
    QuarvelSimRegisterLog(log.data(), log.size());
    return log;
}

const std::vector<uint8_t> kLongRangeWrites = {0x21, 0x6C, 0x10, 0x21, 0x79, 0x0E,
                                               0x21, 0x7A, 0x16, 0x21, 0x7B, 0x1E};
const std::vector<uint8_t> kShortRangeWrites = {0x21, 0x6C, 0x08, 0x21, 0x79, 0x0A,
                                                0x21, 0x7A, 0x0E, 0x21, 0x7B, 0x12};

}  // namespace

TEST(UsbCameraEndToEnd, DefaultCameraStreamsTheSceneDepth) {
    const ExpectedCamera expected;
    QuarvelTOFCamera camera;
    ASSERT_EQ(camera.open(Connection::USB, 0), 0);
    const CameraInfo info = camera.getCameraInfo();
    EXPECT_EQ(info.width, 240u);
    EXPECT_EQ(info.height, 180u);
    EXPECT_EQ(info.device_type, HQVGA);
    ASSERT_EQ(camera.start(FrameType::DEPTH), 0);
    // Starting re-applies the 4000 mm range: the long-range table, once.
    EXPECT_EQ(registerLog(), kLongRangeWrites);
    // Most of the standard scene lies within the 4 m range with a usable signal.
    expectTrueDepth(camera, expected, HqvgaModulation::LongRange, 3, kPixels * 6 / 10);
    EXPECT_EQ(camera.stop(), 0);
    EXPECT_EQ(camera.close(), 0);
}

TEST(UsbCameraEndToEnd, TwoMetreRangeSwitchesTheSensorAndStreamsNearDepth) {
    const ExpectedCamera expected;
    QuarvelTOFCamera camera;
    ASSERT_EQ(camera.open(Connection::USB, 0), 0);
    ASSERT_EQ(camera.setControl(CameraCtrl::RANGE, 2000), 0);
    ASSERT_EQ(camera.start(FrameType::DEPTH), 0);
    EXPECT_EQ(registerLog(), [] {
        std::vector<uint8_t> both = kShortRangeWrites;  // setControl, then start's re-apply
        both.insert(both.end(), kShortRangeWrites.begin(), kShortRangeWrites.end());
        return both;
    }());
    // Sphere, box and the near floor lie within 2 m; the back wall does not.
    expectTrueDepth(camera, expected, HqvgaModulation::ShortRange, 3, kPixels / 5);

    // Beyond 2 m the phase wraps: the back wall (3 m) reads about 1 m.
    QuarvelFrameBuffer* frame = camera.requestFrame(3000);
    ASSERT_NE(frame, nullptr);
    const float* depth = static_cast<float*>(frame->getData(FrameType::DEPTH));
    std::vector<double> wallErrors;
    for (int i = 0; i < kPixels; ++i) {
        const double truth = expected.truth.distanceMm[i];
        if (truth < 2900 || truth > 3100 || expected.synthesis->amplitudeLsb(i) < 40) continue;
        wallErrors.push_back(std::fabs(depth[i] - (truth - 2000.0)));
    }
    ASSERT_GT(wallErrors.size(), 1000u);
    std::nth_element(wallErrors.begin(), wallErrors.begin() + wallErrors.size() / 2,
                     wallErrors.end());
    EXPECT_LT(wallErrors[wallErrors.size() / 2], 30.0);
    camera.releaseFrame(frame);
    EXPECT_EQ(camera.stop(), 0);
    EXPECT_EQ(camera.close(), 0);
}

TEST(UsbCameraEndToEnd, RangeChangeWhileStreamingReachesTheSensor) {
    const ExpectedCamera expected;
    QuarvelTOFCamera camera;
    ASSERT_EQ(camera.open(Connection::USB, 0), 0);
    ASSERT_EQ(camera.start(FrameType::DEPTH), 0);
    expectTrueDepth(camera, expected, HqvgaModulation::LongRange, 1, kPixels * 6 / 10);
    ASSERT_EQ(camera.setControl(CameraCtrl::RANGE, 2000), 0);

    // Frames already captured in the long range may still be waiting; the next ones are
    // taken and computed in the short range.
    int shortFrames = 0;
    for (int n = 0; n < 20 && shortFrames < 2; ++n) {
        QuarvelFrameBuffer* frame = camera.requestFrame(3000);
        ASSERT_NE(frame, nullptr);
        const QuarvelSimDelivery delivery = deliveryOf(frameTimestamp(frame, FrameType::DEPTH));
        if (delivery.shortRange == 1) {
            const DepthComparison result =
                compareWithTruth(expected, HqvgaModulation::ShortRange,
                                 static_cast<float*>(frame->getData(FrameType::DEPTH)),
                                 static_cast<float*>(frame->getData(FrameType::AMPLITUDE)));
            EXPECT_EQ(result.outside, 0);
            EXPECT_LT(result.medianRelativeError, 0.01);
            ++shortFrames;
        }
        camera.releaseFrame(frame);
    }
    EXPECT_EQ(shortFrames, 2);
    EXPECT_EQ(camera.stop(), 0);
}

TEST(UsbCameraEndToEnd, RawFramesAreTheSynthesisedSubframesInterleaved) {
    const ExpectedCamera expected;
    QuarvelTOFCamera camera;
    ASSERT_EQ(camera.open(Connection::USB, 0), 0);
    ASSERT_EQ(camera.start(FrameType::RAW), 0);
    std::vector<uint16_t> sub[4];
    for (auto& samples : sub) samples.resize(kPixels);
    for (int n = 0; n < 2; ++n) {
        QuarvelFrameBuffer* frame = camera.requestFrame(3000);
        ASSERT_NE(frame, nullptr);
        const QuarvelSimDelivery delivery = deliveryOf(frameTimestamp(frame, FrameType::RAW));
        ASSERT_EQ(delivery.subframe, 3);
        const HqvgaModulation modulation =
            delivery.shortRange ? HqvgaModulation::ShortRange : HqvgaModulation::LongRange;
        for (int k = 0; k < 4; ++k) {
            expected.synthesis->synthesize(delivery.frame, k, modulation, sub[k].data(), kPixels);
        }
        // Line r of sub-frame k becomes line 4r + k of the 240x720 plane, as 16 x value.
        const int16_t* plane = static_cast<int16_t*>(frame->getData(FrameType::RAW));
        for (int r = 0; r < 180; ++r) {
            for (int k = 0; k < 4; ++k) {
                for (int c = 0; c < 240; ++c) {
                    ASSERT_EQ(plane[(4 * r + k) * 240 + c], 16 * signedValue(sub[k][r * 240 + c]))
                        << "line " << r << " sub-frame " << k << " column " << c;
                }
            }
        }
        camera.releaseFrame(frame);
    }
    EXPECT_EQ(camera.stop(), 0);
}

class UsbCameraBitWidth : public ::testing::TestWithParam<int> {};

TEST_P(UsbCameraBitWidth, RawFramesKeepEveryBitTheWidthCarries) {
    const int bits = GetParam();
    usbtest::ScratchDirectory scratch;
    const std::string description = "bit_width = " + std::to_string(bits) + "\n";
    const ExpectedCamera expected(description);
    QuarvelTOFCamera camera;
    ASSERT_EQ(camera.openWithFile(scratch.write("camera.conf", description).c_str(), 0), 0);
    EXPECT_EQ(camera.getCameraInfo().bit_width, static_cast<uint32_t>(bits));
    ASSERT_EQ(camera.start(FrameType::RAW), 0);
    QuarvelFrameBuffer* frame = camera.requestFrame(3000);
    ASSERT_NE(frame, nullptr);
    const QuarvelSimDelivery delivery = deliveryOf(frameTimestamp(frame, FrameType::RAW));
    // Below 12 bits the camera drops the low bits of each 12-bit pattern.
    const uint16_t kept =
        static_cast<uint16_t>(bits < 12 ? 0xFFF & ~((1 << (12 - bits)) - 1) : 0xFFF);
    std::vector<uint16_t> sub(kPixels);
    const int16_t* plane = static_cast<int16_t*>(frame->getData(FrameType::RAW));
    for (int k = 0; k < 4; ++k) {
        expected.synthesis->synthesize(delivery.frame, k, HqvgaModulation::LongRange, sub.data(),
                                       kPixels);
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

TEST(UsbCameraEndToEnd, EightBitCameraStillMeetsItsWidenedBound) {
    usbtest::ScratchDirectory scratch;
    const std::string description = "bit_width = 8\n";
    const ExpectedCamera expected(description);
    QuarvelTOFCamera camera;
    ASSERT_EQ(camera.openWithFile(scratch.write("camera.conf", description).c_str(), 0), 0);
    ASSERT_EQ(camera.start(FrameType::DEPTH), 0);
    for (int n = 0; n < 2; ++n) {
        QuarvelFrameBuffer* frame = camera.requestFrame(3000);
        ASSERT_NE(frame, nullptr);
        const DepthComparison result =
            compareWithTruth(expected, HqvgaModulation::LongRange,
                             static_cast<float*>(frame->getData(FrameType::DEPTH)),
                             static_cast<float*>(frame->getData(FrameType::AMPLITUDE)));
        EXPECT_GT(result.valid, kPixels / 10);
        EXPECT_EQ(result.outside, 0);
        camera.releaseFrame(frame);
    }
    EXPECT_EQ(camera.stop(), 0);
}

TEST(UsbCameraEndToEnd, UnthrottledCameraKeepsGroupingAndDepth) {
    usbtest::ScratchDirectory scratch;
    const std::string description = "pacing = unthrottled\nfps = 50\n";
    const ExpectedCamera expected(description);
    QuarvelTOFCamera camera;
    ASSERT_EQ(camera.openWithFile(scratch.write("camera.conf", description).c_str(), 0), 0);
    ASSERT_EQ(camera.start(FrameType::DEPTH), 0);
    uint64_t previous = 0;
    for (int n = 0; n < 4; ++n) {
        QuarvelFrameBuffer* frame = camera.requestFrame(3000);
        ASSERT_NE(frame, nullptr);
        const uint64_t timestamp = frameTimestamp(frame, FrameType::DEPTH);
        const QuarvelSimDelivery delivery = deliveryOf(timestamp);
        EXPECT_EQ(delivery.subframe, 3);
        // Timestamps advance by whole frame periods (20 ms at 50 fps) of the sensor clock.
        if (previous != 0) {
            EXPECT_GT(timestamp, previous);
            EXPECT_EQ((timestamp - previous) % 20, 0u);
        }
        previous = timestamp;
        const DepthComparison result =
            compareWithTruth(expected, HqvgaModulation::LongRange,
                             static_cast<float*>(frame->getData(FrameType::DEPTH)),
                             static_cast<float*>(frame->getData(FrameType::AMPLITUDE)));
        EXPECT_EQ(result.outside, 0);
        EXPECT_LT(result.medianRelativeError, 0.01);
        camera.releaseFrame(frame);
    }
    EXPECT_EQ(camera.stop(), 0);
}

// The VGA sensor hands its whole raw frame to the USB transport at once.
struct VgaCase {
    const char* name;
    const char* description;
};
void PrintTo(const VgaCase& vgaCase, std::ostream* out) { *out << vgaCase.name; }
class UsbVgaFrames : public ::testing::TestWithParam<VgaCase> {};

TEST_P(UsbVgaFrames, TransportDeliversTheSynthesisedRawFrame) {
    usbtest::ScratchDirectory scratch;
    const std::string description = GetParam().description;
    sim::SimulatedCameraConfig config;
    std::string error;
    ASSERT_TRUE(sim::SimulatedCameraConfig::parse(description, config, error)) << error;
    const sim::VgaRawSynthesis synthesis(config.makeScene().render(config.imageGeometry()),
                                         config.vgaParams());
    const int lines = synthesis.rawLines(config.vgaFrequency);

    QuarvelTOFUSBSensor sensor(scratch.write("vga.conf", description), 0);
    CameraInfo info{};
    ASSERT_EQ(sensor.open(info), 0);
    EXPECT_EQ(info.width, 640u);
    EXPECT_EQ(info.height, static_cast<uint32_t>(lines));
    ASSERT_EQ(sensor.start(), 0);
    std::vector<uint8_t> dst(static_cast<size_t>(640) * lines * 2);
    uint64_t timestamp = 0;
    ASSERT_EQ(sensor.getFrame(dst.data(), &timestamp), 0);
    const QuarvelSimDelivery delivery = deliveryOf(timestamp);
    std::vector<uint16_t> raw(synthesis.rawSamples(config.vgaFrequency));
    ASSERT_EQ(synthesis.synthesize(delivery.frame, config.vgaFrequency, raw.data(), raw.size()),
              raw.size());
    // 12 and 14 bits carry the whole 12-bit sample; 10 bits drop its two low bits.
    const uint16_t kept = config.bitWidth == 10 ? 0xFFC : 0xFFF;
    for (size_t i = 0; i < raw.size(); ++i) {
        ASSERT_EQ(usbtest::wordAt(dst, i), raw[i] & kept) << "sample " << i;
    }
    sensor.stop();
    sensor.close();
}

INSTANTIATE_TEST_SUITE_P(
    Modes, UsbVgaFrames,
    ::testing::Values(VgaCase{"SingleFrequency", "sensor = vga\n"},
                      VgaCase{"DualFrequency14Bits",
                              "sensor = vga\nvga_frequency = dual\nbit_width = 14\n"},
                      VgaCase{"NearScene10Bits", "sensor = vga\nscene = near\nbit_width = 10\n"}),
    [](const ::testing::TestParamInfo<VgaCase>& info) { return std::string(info.param.name); });
