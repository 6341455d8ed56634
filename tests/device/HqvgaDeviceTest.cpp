// The 240x180 device: sample decoding, the worked pixel, phase wrap, raw interleave, controls.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "device/HqvgaKernels.h"
#include "device/QuarvelDeviceHQVGA.h"
#include "tests/support/ScriptedComponents.h"

using namespace Quarvel;

namespace {

uint32_t bitsOf(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// A raw frame whose every pixel of sub-frame k holds samples[k].
std::vector<uint8_t> uniformFrame(const uint16_t (&samples)[4]) {
    std::vector<uint8_t> raw(hqvga::kRawBytes);
    for (int sub = 0; sub < 4; ++sub) {
        for (int i = 0; i < hqvga::kPixels; ++i) {
            const size_t at = 2 * (static_cast<size_t>(sub) * hqvga::kPixels + i);
            raw[at] = static_cast<uint8_t>(samples[sub] & 0xFF);
            raw[at + 1] = static_cast<uint8_t>(samples[sub] >> 8);
        }
    }
    return raw;
}

struct Planes {
    std::vector<float> depth = std::vector<float>(hqvga::kPixels);
    std::vector<float> amplitude = std::vector<float>(hqvga::kPixels);
    std::vector<float> confidence = std::vector<float>(hqvga::kPixels);
};

Planes computeWith(QuarvelDeviceHQVGA& device, const std::vector<uint8_t>& raw) {
    Planes planes;
    EXPECT_TRUE(device.getPhaseImage(raw.data(), planes.depth.data(), planes.amplitude.data(),
                                     planes.confidence.data()));
    return planes;
}

}  // namespace

TEST(HqvgaDecoding, ElevenBitSignedFieldIgnoresHigherBits) {
    EXPECT_EQ(hqvga::decodeSample(0x0400, 0), -1024);
    EXPECT_EQ(hqvga::decodeSample(0x03FF, 0), 1023);
    EXPECT_EQ(hqvga::decodeSample(0x0FFF, 0), -1);
    EXPECT_EQ(hqvga::decodeSample(0xF800, 0), 0);
    EXPECT_EQ(hqvga::decodeSample(0x07CE, 0), -50);
    EXPECT_EQ(hqvga::decodeSample(0x4000, 4), -1024);
    EXPECT_EQ(hqvga::decodeSample(0x000F, 4), 0);
}

TEST(HqvgaDepth, WorkedPixelAtBothRangesIsExact) {
    QuarvelDeviceHQVGA device(BOARD_RASPBERRY_PI, hqvga::kFrequency4m, 4000, 0);
    const auto raw = uniformFrame({0x0064, 0x07CE, 0x079C, 0x0032});

    Planes far = computeWith(device, raw);
    EXPECT_EQ(bitsOf(far.depth[0]), bitsOf(3295.1672f)) << far.depth[0];
    EXPECT_EQ(bitsOf(far.amplitude[0]), bitsOf(1788.8544f)) << far.amplitude[0];
    EXPECT_EQ(bitsOf(far.depth[hqvga::kPixels - 1]), bitsOf(3295.1672f));

    ASSERT_EQ(device.setControl(CameraCtrl::RANGE, 2000), 0);
    EXPECT_EQ(bitsOf(device.rangeSetting().modulationFrequency), 0x4C8F0D18u);
    Planes near = computeWith(device, raw);
    EXPECT_EQ(bitsOf(near.depth[0]), bitsOf(1147.5836f)) << near.depth[0];
    EXPECT_EQ(bitsOf(near.amplitude[0]), bitsOf(1788.8544f));
    EXPECT_EQ(near.confidence, near.amplitude);
}

TEST(HqvgaDepth, ConstantsHaveTheirExactBits) {
    EXPECT_EQ(bitsOf(hqvga::kFrequency4m), 0x4C0F0D18u);
    EXPECT_EQ(bitsOf(hqvga::kFrequency2m), 0x4C8F0D18u);
    EXPECT_EQ(bitsOf(hqvga::kTwoPi), 0x40C90FDBu);
    EXPECT_EQ(bitsOf(hqvga::kFourPi), 0x41490FDBu);
    EXPECT_EQ(bitsOf(hqvga::kSpeedOfLight), 0x4D8F0D18u);
}

TEST(HqvgaDepth, PhaseWrapsIntoOneTurnAndNeverGoesNegative) {
    const float scale = hqvga::depthScale(hqvga::kFrequency4m);
    EXPECT_EQ(hqvga::pixelFromDifferences(0, 0, scale).depth, 0.0f);
    EXPECT_EQ(hqvga::pixelFromDifferences(0, 0, scale).amplitude, 0.0f);
    // y = 0, x < 0: half a turn.
    EXPECT_NEAR(hqvga::pixelFromDifferences(0, -160, scale).depth, 2000.0f, 0.01f);
    EXPECT_NEAR(hqvga::pixelFromDifferences(0, -160, hqvga::depthScale(hqvga::kFrequency2m)).depth,
                1000.0f, 0.01f);
    // y < 0: between half and a whole turn.
    for (int x : {-32752, -1, 0, 1, 32752}) {
        const float depth = hqvga::pixelFromDifferences(-16, x, scale).depth;
        EXPECT_GT(depth, 2000.0f) << x;
        EXPECT_LT(depth, 4000.0f) << x;
    }
}

TEST(HqvgaDepth, PairingFollowsTheRange) {
    QuarvelDeviceHQVGA device(BOARD_RASPBERRY_PI, hqvga::kFrequency4m, 4000, 0);
    // P2 - P0 = 0 and P3 - P1 > 0: phase 0 in the far pairing.
    const auto raw = uniformFrame({0x0010, 0x0000, 0x0010, 0x0020});
    EXPECT_EQ(computeWith(device, raw).depth[7], 0.0f);
    // 3000 keeps the frequency but uses the far pairing.
    ASSERT_EQ(device.setControl(CameraCtrl::RANGE, 3000), 0);
    EXPECT_EQ(bitsOf(device.rangeSetting().modulationFrequency), 0x4C0F0D18u);
    EXPECT_EQ(computeWith(device, raw).depth[7], 0.0f);
    // 2000: y = P1 - P3 < 0, x = P2 - P0 = 0 -> three quarters of a 2000 mm turn.
    ASSERT_EQ(device.setControl(CameraCtrl::RANGE, 2000), 0);
    EXPECT_NEAR(computeWith(device, raw).depth[7], 1500.0f, 0.01f);
}

TEST(HqvgaDepth, JetsonShiftReadsTheUpperBits) {
    QuarvelDeviceHQVGA plain(BOARD_RASPBERRY_PI, hqvga::kFrequency4m, 4000, 0);
    QuarvelDeviceHQVGA jetson(BOARD_JETSON, hqvga::kFrequency4m, 4000, 4);
    const auto lowAligned = uniformFrame({0x0064, 0x07CE, 0x079C, 0x0032});
    const auto msbAligned = uniformFrame({0x0640, 0x7CE0, 0x79C0, 0x0320});
    EXPECT_EQ(computeWith(plain, lowAligned).depth, computeWith(jetson, msbAligned).depth);
}

TEST(HqvgaRaw, SubframeLinesAlternateFromTheFirstLine) {
    QuarvelDeviceHQVGA device(BOARD_RASPBERRY_PI, hqvga::kFrequency4m, 4000, 0);
    std::vector<uint8_t> raw(hqvga::kRawBytes);
    // Sample value encodes (sub-frame, line, column) within the 11-bit field.
    auto sampleAt = [](int sub, int line, int column) {
        return static_cast<uint16_t>(((sub * 181 + line) * 3 + column) & 0x7FF);
    };
    for (int sub = 0; sub < 4; ++sub)
        for (int line = 0; line < 180; ++line)
            for (int column = 0; column < 240; ++column) {
                const uint16_t value = sampleAt(sub, line, column);
                const size_t at = 2 * ((sub * 180 + line) * 240 + column);
                raw[at] = value & 0xFF;
                raw[at + 1] = value >> 8;
            }
    std::vector<int16_t> plane(240 * 720, 0x7777);
    ASSERT_TRUE(device.getRawImages(raw.data(), plane.data()));
    for (int line = 0; line < 180; ++line)
        for (int sub = 0; sub < 4; ++sub)
            for (int column = 0; column < 240; column += 13) {
                const int expected = 16 * hqvga::decodeSample(sampleAt(sub, line, column), 0);
                ASSERT_EQ(plane[(4 * line + sub) * 240 + column], expected)
                    << "line " << line << " sub " << sub << " column " << column;
            }
    EXPECT_NE(plane[0], 0x7777);
    EXPECT_NE(plane[240 * 720 - 1], 0x7777);
}

TEST(HqvgaControls, RangeIsOursAndOtherReadsGoToTheSensor) {
    support::CallLog log;
    support::ScriptedSensor sensor("sensor", log);
    sensor.connect = Connection::CSI;
    CameraInfo info{};
    sensor.open(info);
    sensor.controls[static_cast<int>(CameraCtrl::EXPOSURE)] = 77;
    QuarvelDeviceHQVGA device(BOARD_RASPBERRY_PI, hqvga::kFrequency4m, 4000, 0);
    ASSERT_EQ(device.open(&sensor), 0);

    int value = 0;
    EXPECT_EQ(device.getControl(CameraCtrl::RANGE, &value), 0);
    EXPECT_EQ(value, 4000);
    EXPECT_EQ(device.getControl(CameraCtrl::EXPOSURE, &value), 0);
    EXPECT_EQ(value, 77);
    EXPECT_EQ(device.setControl(CameraCtrl::EXPOSURE, 5), 1);
    EXPECT_EQ(device.setControl(CameraCtrl::FRAME_RATE, 5), 1);
    EXPECT_EQ(device.setControlExt(CameraCtrl::CONFIG_DIR_EXT, "x"), 1);
    const char* text = nullptr;
    EXPECT_EQ(device.getControlExt(CameraCtrl::CONFIG_DIR_EXT, &text), 1);

    FrameLayout raw{}, output{};
    EXPECT_EQ(device.getFrameFormats(&raw, &output), 2);
    EXPECT_EQ(raw.width, 240);
    EXPECT_EQ(raw.height, 720);
    EXPECT_EQ(output.height, 180);
    EXPECT_EQ(device.getDeviceType(), HQVGA);
}

TEST(HqvgaControls, RangeSwitchesTheSensorInItsOwnUnit) {
    support::CallLog log;
    support::ScriptedSensor csi("csi", log);
    csi.connect = Connection::CSI;
    support::ScriptedSensor usb("usb", log);
    usb.connect = Connection::USB;
    CameraInfo info{};
    csi.open(info);
    usb.open(info);

    QuarvelDeviceHQVGA onCsi(BOARD_RASPBERRY_PI, hqvga::kFrequency4m, 4000, 0);
    onCsi.open(&csi);
    QuarvelDeviceHQVGA onUsb(BOARD_UNKNOWN, hqvga::kFrequency4m, 4000, 0);
    onUsb.open(&usb);

    EXPECT_EQ(onCsi.setControl(CameraCtrl::RANGE, 2000), 0);
    EXPECT_EQ(onUsb.setControl(CameraCtrl::RANGE, 2000), 0);
    EXPECT_EQ(onCsi.setControl(CameraCtrl::RANGE, 3000), 0);  // no frequency: sensor untouched
    EXPECT_EQ(onCsi.setControl(CameraCtrl::RANGE, 4000), 0);
    EXPECT_EQ(log.only("csi.setControl"),
              (std::vector<std::string>{"csi.setControl(0,2)", "csi.setControl(0,4)"}));
    EXPECT_EQ(log.only("usb.setControl"), (std::vector<std::string>{"usb.setControl(0,2000)"}));
}
