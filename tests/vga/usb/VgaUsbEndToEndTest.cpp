// The whole road on the simulated USB VGA camera: Quarvel::QuarvelTOFCamera, the USB
// transport, the VGA device and the stand-in phase library, against the scene's ground
// truth in single and dual frequency.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "core/QuarvelTOFCamera.h"
#include "sdk/phase/si4c_sim.h"
#include "sim/scene/SimulatedCameraConfig.h"
#include "sim/scene/VgaRawSynthesis.h"
#include "tests/phase/PhaseTestSupport.h"
#include "tests/support/Waits.h"

using namespace Quarvel;
using phase_test::writeFile;

namespace {

constexpr int kPixels = 640 * 480;
constexpr const char* kFiltersOff =
    "TDenoiseLevel_Depth=0\nSDenoiseLevel_Depth=0\nTDenoiseLevel_Gray=0\nSDenoiseLevel_Gray=0\n";

// The simulated camera of a description, rebuilt from the same pieces for its ground truth.
struct ExpectedCamera {
    explicit ExpectedCamera(const std::string& description) : text(description) {
        std::string error;
        EXPECT_TRUE(sim::SimulatedCameraConfig::parse(description, config, error)) << error;
        truth = config.makeScene().render(config.imageGeometry());
        synthesis = std::make_unique<sim::VgaRawSynthesis>(truth, config.vgaParams());
    }
    bool dual() const { return config.vgaFrequency == sim::VgaFrequencyMode::Dual; }

    std::string text;
    sim::SimulatedCameraConfig config;
    sim::GroundTruth truth;
    std::unique_ptr<sim::VgaRawSynthesis> synthesis;
};

// Depth error one pixel may show without denoising, or a negative value when the noise
// model gives no bound (too dim, clipped, or so close to a wrap that it may fall either
// side). Each correlation sample is off by at most kLimitSigmas sigma + 0.5 (rounding); a
// difference pairs two, so the (I, Q) vector of length 2A moves by at most 2 sqrt(2) times
// that and turns by at most asin(error / 2A). Dual frequency: the combined distance is a
// weighted mean of the two frequencies' distances, so the larger range bounds it.
double depthBoundMm(const ExpectedCamera& camera, int pixel) {
    const sim::VgaRawSynthesis& s = *camera.synthesis;
    const double amplitude = s.amplitudeLsb(pixel);
    const double sigmas = sim::NoiseModel::kLimitSigmas * s.noiseSigmaLsb(pixel);
    if (s.offsetLsb(pixel) + amplitude + sigmas >= 4094.5) return -1;  // may clip
    const double ratio = std::sqrt(2.0) * (sigmas + 0.5) / amplitude;
    if (!(ratio < 0.2)) return -1;
    const double phaseError = std::asin(ratio);
    const double range = camera.dual() ? 2250.0 : 1250.0;
    const double wrapRange = camera.dual() ? 4500.0 : 1250.0;
    const double distance = camera.truth.distanceMm[pixel];
    const double phase = std::fmod(2 * M_PI * distance / wrapRange, 2 * M_PI);
    const double wrapMargin = phaseError * range / wrapRange;
    if (phase - wrapMargin <= 0 || phase + wrapMargin >= 2 * M_PI) return -1;
    return phaseError * range / (2 * M_PI) + 0.05 + 1e-5 * distance;
}

class VgaUsbEndToEnd : public ::testing::Test {
protected:
    // Opens the simulated camera of `description`; `libraryConfig` (when not empty) goes
    // to the phase library through CONFIG_DIR_EXT.
    void open(const ExpectedCamera& expected, const std::string& libraryConfig) {
        const std::string path = directory.file("camera.conf");
        ASSERT_TRUE(writeFile(path, expected.text));
        ASSERT_EQ(camera.openWithFile(path.c_str(), 0), 0);
        ASSERT_EQ(camera.getCameraInfo().device_type, VGA);
        if (!libraryConfig.empty()) {
            ASSERT_TRUE(writeFile(libraryDirectory.file("ConfigAlgorithm.json"), libraryConfig));
            ASSERT_EQ(
                camera.setControlExt(CameraCtrl::CONFIG_DIR_EXT, libraryDirectory.path().c_str()),
                0);
        }
        ASSERT_EQ(camera.setControl(CameraCtrl::MODE, expected.dual() ? 1 : 0), 0);
    }

    // Depth of the next frame; empty when none came.
    std::vector<float> nextDepth(int16_t timeoutMs = support::kFrameArrivalMs) {
        QuarvelFrameBuffer* frame = camera.requestFrame(timeoutMs);
        if (frame == nullptr) return {};
        const float* depth = static_cast<const float*>(frame->getData(FrameType::DEPTH));
        std::vector<float> copy(depth, depth + kPixels);
        EXPECT_EQ(camera.releaseFrame(frame), 0);
        return copy;
    }

    phase_test::TemporaryDirectory directory;
    phase_test::TemporaryDirectory libraryDirectory;
    phase_test::ScopedWorkingDirectory inDirectory{directory.path()};
    QuarvelTOFCamera camera;
};

}  // namespace

// Single frequency reads distances beyond 1250 mm wrapped; dual frequency reads them true.
TEST_F(VgaUsbEndToEnd, DepthIsGroundTruthWithinTheModesRange) {
    struct Case {
        const char* description;
        int range;
        uint32_t rawLines;
        bool mostlyBeyond1250;
    };
    const Case cases[] = {
        {"sensor = vga\nscene = near\nfps = 60\n", 1250, 2405, false},
        {"sensor = vga\nfps = 60\n", 1250, 2405, true},
        {"sensor = vga\nvga_frequency = dual\nfps = 60\n", 4500, 4810, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        const ExpectedCamera expected(c.description);
        open(expected, kFiltersOff);
        int range = 0;
        ASSERT_EQ(camera.getControl(CameraCtrl::RANGE, &range), 0);
        EXPECT_EQ(range, c.range);
        ASSERT_EQ(camera.start(FrameType::DEPTH), 0);
        EXPECT_EQ(camera.getCameraInfo().height, c.rawLines);
        const std::vector<float> depth = nextDepth();
        ASSERT_EQ(depth.size(), static_cast<size_t>(kPixels));
        int bounded = 0, outside = 0, blank = 0, beyond = 0, wrapped = 0;
        for (int i = 0; i < kPixels; ++i) {
            const double truth = expected.truth.distanceMm[i];
            const double bound = depthBoundMm(expected, i);
            if (bound < 0) continue;
            ++bounded;
            if (depth[i] == 0.0f) {
                ++blank;
                continue;
            }
            const double error = std::fabs(depth[i] - std::fmod(truth, c.range));
            if (error > bound && ++outside <= 5) {
                ADD_FAILURE() << "pixel " << i << ": depth " << depth[i] << " truth " << truth
                              << " bound " << bound;
            }
            if (truth > 1300.0) {
                ++beyond;
                if (std::fabs(depth[i] - truth) > 1000.0) ++wrapped;
            }
        }
        EXPECT_GT(bounded, kPixels * 3 / 4);
        EXPECT_EQ(outside, 0);
        EXPECT_LE(blank, c.mostlyBeyond1250 ? bounded / 100 : 0);
        if (c.mostlyBeyond1250) {
            EXPECT_GT(beyond, kPixels / 2);
        } else {
            EXPECT_EQ(beyond, 0);
        }
        EXPECT_EQ(wrapped, c.range == 1250 ? beyond : 0);
        camera.stop();
        EXPECT_EQ(camera.close(), 0);
    }
}

TEST_F(VgaUsbEndToEnd, DefaultDenoisingKeepsSmoothSurfacesOnTheirGroundTruth) {
    const ExpectedCamera expected("sensor = vga\nvga_frequency = dual\nfps = 60\n");
    open(expected, "");
    ASSERT_EQ(camera.start(FrameType::DEPTH), 0);
    std::vector<float> depth;
    for (int frame = 0; frame < 4; ++frame) depth = nextDepth();
    ASSERT_EQ(depth.size(), static_cast<size_t>(kPixels));
    // Pixels whose 7 x 7 neighbourhood is one smooth surface: no neighbour differs from
    // its own neighbour by more than 20 mm.
    const std::vector<float>& truth = expected.truth.distanceMm;
    std::vector<double> errors;
    int far = 0;
    for (int y = 3; y < 480 - 3; ++y) {
        for (int x = 3; x < 640 - 3; ++x) {
            bool smooth = true;
            for (int dy = -3; dy <= 3 && smooth; ++dy) {
                for (int dx = -3; dx < 3 && smooth; ++dx) {
                    const int at = (y + dy) * 640 + x + dx;
                    smooth = std::fabs(truth[at] - truth[at + 1]) < 20.0;
                }
            }
            const int i = y * 640 + x;
            if (!smooth || depthBoundMm(expected, i) < 0) continue;
            errors.push_back(std::fabs(depth[i] - truth[i]));
            if (errors.back() > 25.0) ++far;
        }
    }
    ASSERT_GT(errors.size(), static_cast<size_t>(kPixels / 2));
    std::nth_element(errors.begin(), errors.begin() + errors.size() / 2, errors.end());
    EXPECT_LT(errors[errors.size() / 2], 3.0);
    EXPECT_LT(far, static_cast<int>(errors.size() / 1000)) << "unwrapping or smoothing faults";
    camera.stop();
    EXPECT_EQ(camera.close(), 0);
}

TEST_F(VgaUsbEndToEnd, FramesOfTheOtherModeGiveNoDepthRatherThanWrongDepth) {
    // The camera sends dual-frequency frames; the library is left in single frequency.
    const ExpectedCamera expected("sensor = vga\nvga_frequency = dual\nfps = 60\n");
    open(expected, kFiltersOff);
    ASSERT_EQ(camera.setControl(CameraCtrl::MODE, 0), 0);
    const uint64_t before = SiSimCallCount("SiSDKGetPhaseImage");
    ASSERT_EQ(camera.start(FrameType::DEPTH), 0);
    // The library has been asked for a second frame: the first one's outcome is settled.
    EXPECT_TRUE(support::eventually(
        [&] { return SiSimCallCount("SiSDKGetPhaseImage") - before >= 2; }));
    EXPECT_TRUE(nextDepth(0).empty());
    camera.stop();
    EXPECT_EQ(camera.close(), 0);
}
