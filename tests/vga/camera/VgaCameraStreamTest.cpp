// The camera streaming 640x480 depth end to end: a synthetic sensor serving raw phase
// frames of a known scene, the VGA device and the stand-in phase library.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "core/QuarvelTOFCamera.h"
#include "tests/phase/PhaseTestSupport.h"
#include "tests/support/Waits.h"

using namespace Quarvel;
using phase_test::TemporaryDirectory;

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kSingleLines = 2405;
constexpr int kDualLines = 4810;

// A slope from 500 mm on the left to 2800 mm on the right: beyond 1250 mm for most of it.
double slopeMm(int x, int y) { return 500.0 + 3.4 * x + 0.4 * y; }

// Reports its whole raw frame like a USB VGA camera; the frame height the device asks for
// (2405 or 4810 lines) selects single or dual frequency.
class SyntheticVgaSensor : public QuarvelTOFSensor {
public:
    int open(CameraInfo& info) override {
        info.width = kWidth;
        info.height = lines;
        info.bit_width = 12;
        info.bpp = 2;
        return 0;
    }
    int close() override { return 0; }
    int start() override {
        const bool dual = lines == kDualLines;
        std::lock_guard<std::mutex> lock(frameMutex);
        if (frames.count(dual) == 0) {
            phase_test::SyntheticScene scene;
            scene.distanceMm = slopeMm;
            phase_test::SynthesisOptions options;
            options.dualFrequency = dual;
            frames[dual] = phase_test::synthesiseFrame(scene, options);
        }
        current = &frames[dual];
        return 0;
    }
    int stop() override { return 0; }
    CameraInfo getCameraInfo() override {
        CameraInfo info{};
        open(info);
        return info;
    }
    int getFrame(uint8_t* dst, uint64_t* timestamp) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::lock_guard<std::mutex> lock(frameMutex);
        const size_t capacity = static_cast<size_t>(kWidth) * lines * 2;
        std::memcpy(dst, current->data(), std::min(capacity, current->size()));
        *timestamp = ++served;
        return 0;
    }
    int setControl(CameraCtrl ctrl, int value) override {
        if (ctrl == CameraCtrl::FMT_HEIGHT) {
            if (value != kSingleLines && value != kDualLines) return 1;
            lines = value;
        }
        return ctrl == CameraCtrl::FMT_WIDTH && value != kWidth ? 1 : 0;
    }
    int getControl(CameraCtrl, int*) override { return QuarvelNotImplemented; }

    uint32_t lines = kSingleLines;
    std::mutex frameMutex;  // guards frames and current
    std::map<bool, std::vector<uint8_t>> frames;
    const std::vector<uint8_t>* current = nullptr;
    uint64_t served = 0;
};

class SyntheticVgaComponents : public ComponentFactory {
public:
    std::unique_ptr<QuarvelTOFSensor> makeCsiSensor(const char*, int) const override {
        return nullptr;
    }
    std::unique_ptr<QuarvelTOFSensor> makeUsbSensor(const std::string&, int) const override {
        auto made = std::make_unique<SyntheticVgaSensor>();
        sensor = made.get();
        return made;
    }
    std::unique_ptr<QuarvelDevice> makeHqvgaDevice(int) const override { return nullptr; }
    std::unique_ptr<QuarvelDevice> makeVgaDevice(int board) const override {
        return createVgaDevice(board);
    }
    mutable SyntheticVgaSensor* sensor = nullptr;
};

class VgaCameraStream : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(camera.open(Connection::USB, 0), 0); }

    // Largest error of the next frame's depth against the slope less `offsetMm`; with
    // `range` > 0 modulo that unambiguous range.
    double nextWorstError(double range, double offsetMm = 0.0) {
        QuarvelFrameBuffer* frame = camera.requestFrame(support::kFrameArrivalMs);
        if (frame == nullptr) return 1e9;
        FrameDataFormat format{};
        EXPECT_EQ(frame->getFormat(FrameType::DEPTH, format), 0);
        EXPECT_EQ(format.width * format.height, static_cast<uint32_t>(kWidth * kHeight));
        const float* depth = static_cast<const float*>(frame->getData(FrameType::DEPTH));
        double worst = 0;
        for (int i = 0; i < kWidth * kHeight; ++i) {
            double error = depth[i] - slopeMm(i % kWidth, i / kWidth) + offsetMm;
            if (range > 0) error = std::remainder(error, range);
            worst = std::max(worst, std::fabs(error));
        }
        EXPECT_EQ(camera.releaseFrame(frame), 0);
        return worst;
    }

    TemporaryDirectory directory;
    phase_test::ScopedWorkingDirectory inDirectory{directory.path()};
    SyntheticVgaComponents components;
    QuarvelTOFCamera camera{components, "/nonexistent/model"};
};

}  // namespace

TEST_F(VgaCameraStream, SingleThenDualFrequencyDepthIsGroundTruthFromTheNextStart) {
    ASSERT_EQ(camera.start(FrameType::DEPTH), 0);
    EXPECT_EQ(camera.getCameraInfo().height, static_cast<uint32_t>(kSingleLines));
    EXPECT_LT(nextWorstError(1250.0), 1.0);
    EXPECT_GT(nextWorstError(0.0), 1000.0) << "single frequency wraps at 1250 mm";
    ASSERT_EQ(camera.setControl(CameraCtrl::MODE, 1), 0);
    int range = 0;
    ASSERT_EQ(camera.getControl(CameraCtrl::RANGE, &range), 0);
    EXPECT_EQ(range, 4500);
    for (int i = 0; i < 3; ++i) {
        EXPECT_LT(nextWorstError(1250.0), 1.0) << "the running stream stays single";
    }
    camera.stop();
    ASSERT_EQ(camera.start(FrameType::DEPTH), 0);
    EXPECT_EQ(components.sensor->lines, static_cast<uint32_t>(kDualLines));
    EXPECT_LT(nextWorstError(0.0), 1.0);
    camera.stop();
    EXPECT_EQ(camera.close(), 0);
}

TEST_F(VgaCameraStream, CalibrationFileAndConfigurationDirectoryReachTheLibrary) {
    // Every pixel reads 40 mm short at the 1500 and 2250 mm frequencies.
    ASSERT_TRUE(phase_test::writeFile(
        directory.file("cali.bin"),
        phase_test::calibrationFile(
            kWidth, kHeight, [](int table, int, int) { return table == 0 ? 0.0f : 40.0f; })));
    TemporaryDirectory configuration;
    ASSERT_TRUE(phase_test::writeFile(configuration.file("ConfigAlgorithm.json"),
                                      "[ConfidenceParams]\nValidDistMax=2000\n"));
    ASSERT_EQ(camera.setControlExt(CameraCtrl::CONFIG_DIR_EXT, configuration.path().c_str()), 0);
    ASSERT_EQ(camera.setControl(CameraCtrl::MODE, 1), 0);
    ASSERT_EQ(camera.start(FrameType::DEPTH), 0);
    QuarvelFrameBuffer* frame = camera.requestFrame(support::kFrameArrivalMs);
    ASSERT_NE(frame, nullptr);
    const float* depth = static_cast<const float*>(frame->getData(FrameType::DEPTH));
    int blanked = 0;
    for (int y = 0; y < kHeight; y += 7) {
        for (int x = 0; x < kWidth; x += 5) {
            const double expected = slopeMm(x, y) - 40.0;
            const float measured = depth[y * kWidth + x];
            if (expected > 2001.0) {
                EXPECT_EQ(measured, 0.0f) << x << "," << y;
                ++blanked;
            } else if (expected < 1999.0) {
                EXPECT_NEAR(measured, expected, 1.0) << x << "," << y;
            }
        }
    }
    EXPECT_GT(blanked, 1000);
    EXPECT_EQ(camera.releaseFrame(frame), 0);
    camera.stop();
    EXPECT_EQ(camera.close(), 0);
}

TEST_F(VgaCameraStream, CalibrationReplacedWhileStreamingKeepsTheStreamAndReachesTheNextStart) {
    // Single frequency reads table 0: every pixel 30 mm short, later 60 mm.
    auto calibration = [](float offsetMm) {
        return phase_test::calibrationFile(kWidth, kHeight, [offsetMm](int table, int, int) {
            return table == 0 ? offsetMm : 0.0f;
        });
    };
    ASSERT_TRUE(phase_test::writeFile(directory.file("cali.bin"), calibration(30.0f)));
    ASSERT_EQ(camera.start(FrameType::DEPTH), 0);
    EXPECT_LT(nextWorstError(1250.0, 30.0), 1.0);
    // A user copies the new file in place (truncate, then write) while frames flow.
    ASSERT_EQ(::truncate(directory.file("cali.bin").c_str(), 0), 0);
    EXPECT_LT(nextWorstError(1250.0, 30.0), 1.0);
    ASSERT_TRUE(phase_test::writeFile(directory.file("cali.bin"), calibration(60.0f)));
    for (int i = 0; i < 3; ++i) {
        EXPECT_LT(nextWorstError(1250.0, 30.0), 1.0) << "the running stream keeps its calibration";
    }
    camera.stop();
    ASSERT_EQ(camera.start(FrameType::DEPTH), 0);
    EXPECT_LT(nextWorstError(1250.0, 60.0), 1.0);
    camera.stop();
    EXPECT_EQ(camera.close(), 0);
}
