// The 640x480 sensor through the whole camera over CSI: the VGA device and the phase
// library turn the board's buffers into depth that matches the scene's ground truth, on
// every board (the Jetson Xavier/Orin video input delivers MSB-aligned samples, which the
// device aligns again before the phase library sees them).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/QuarvelTOFCamera.h"
#include "sensor/SimulatedBoardSwitch.h"
#include "tests/csi/CsiTestSupport.h"
#include "tests/phase/PhaseTestSupport.h"
#include "tests/support/Waits.h"

using namespace Quarvel;
using sim::BoardKind;
using sim::SimBoard;

namespace {

constexpr int kPixels = 640 * 480;
constexpr double kSingleRangeMm = 1250.0;
constexpr const char* kFiltersOff =
    "TDenoiseLevel_Depth=0\nSDenoiseLevel_Depth=0\nTDenoiseLevel_Gray=0\nSDenoiseLevel_Gray=0\n";

// The depth error a pixel may show, from the noise model: every correlation sample is off by
// at most kLimitSigmas sigma + 0.5, the (I, Q) vector of length 2A by 2 sqrt(2) times that,
// turning the phase by at most asin of their ratio. Negative where the model gives no bound
// (clipping, too dim, or at the wrap).
double depthBoundMm(const sim::VgaRawSynthesis& synthesis, double distance, int pixel) {
    const double amplitude = synthesis.amplitudeLsb(pixel);
    const double sigma = synthesis.noiseSigmaLsb(pixel);
    if (synthesis.offsetLsb(pixel) + amplitude + sim::NoiseModel::kLimitSigmas * sigma >= 4094.5) {
        return -1;
    }
    const double perSample = sim::NoiseModel::kLimitSigmas * sigma + 0.5;
    const double ratio = std::sqrt(2.0) * perSample / amplitude;
    if (!(ratio < 0.2)) return -1;
    const double phaseError = std::asin(ratio);
    const double phase = std::fmod(2 * M_PI * distance / kSingleRangeMm, 2 * M_PI);
    if (phase - phaseError <= 0 || phase + phaseError >= 2 * M_PI) return -1;
    return phaseError * kSingleRangeMm / (2 * M_PI) + 0.05 + 1e-5 * distance;
}

class VgaOverCsi : public testing::TestWithParam<BoardKind> {};

}  // namespace

TEST_P(VgaOverCsi, SingleFrequencyDepthThroughTheCameraMatchesGroundTruth) {
    phase_test::TemporaryDirectory directory;
    phase_test::TemporaryDirectory libraryDirectory;
    phase_test::ScopedWorkingDirectory inDirectory{directory.path()};
    ASSERT_TRUE(phase_test::writeFile(libraryDirectory.file("ConfigAlgorithm.json"), kFiltersOff));

    auto board = SimBoard::of(GetParam())
                     .sensor(sim::SimSensor::Vga)
                     .scene(sim::Scene::near(1))
                     .paced(true)
                     .build();
    SeamComponents components(board->kernel());
    {
        QuarvelTOFCamera camera(components);
        ASSERT_EQ(camera.open(Connection::CSI, 0), 0);
        ASSERT_EQ(camera.getCameraInfo().device_type, VGA);
        ASSERT_EQ(camera.setControlExt(CameraCtrl::CONFIG_DIR_EXT, libraryDirectory.path().c_str()),
                  0);
        ASSERT_EQ(camera.setControl(CameraCtrl::MODE, 0), 0);
        ASSERT_EQ(camera.start(FrameType::DEPTH), 0);
        EXPECT_EQ(camera.getCameraInfo().height, 2405u);

        QuarvelFrameBuffer* frame = camera.requestFrame(support::kFrameArrivalMs);
        ASSERT_NE(frame, nullptr);
        const auto* depth = static_cast<const float*>(frame->getData(FrameType::DEPTH));
        const sim::VgaRawSynthesis& synthesis = *board->chip().vga(640);
        const sim::GroundTruth& truth = synthesis.groundTruth();
        std::vector<double> relative;
        int beyond = 0;
        for (int pixel = 0; pixel < kPixels; ++pixel) {
            const double distance = truth.distanceMm[pixel];
            const double bound = depthBoundMm(synthesis, distance, pixel);
            if (distance <= 0 || bound < 0 || depth[pixel] == 0.0f) continue;
            const double error = std::fabs(depth[pixel] - std::fmod(distance, kSingleRangeMm));
            relative.push_back(error / distance);
            if (error > bound && ++beyond <= 3) {
                ADD_FAILURE() << "pixel " << pixel << " depth " << depth[pixel] << " truth "
                              << distance << " bound " << bound;
            }
        }
        ASSERT_GT(relative.size(), static_cast<size_t>(kPixels / 2));
        std::nth_element(relative.begin(), relative.begin() + relative.size() / 2, relative.end());
        EXPECT_LT(relative[relative.size() / 2], 0.01);
        EXPECT_EQ(beyond, 0);
        camera.releaseFrame(frame);
        EXPECT_EQ(camera.stop(), 0);
        EXPECT_EQ(camera.close(), 0);
    }
    EXPECT_EQ(board->kernel().openDescriptorCount(), 0);
    EXPECT_EQ(board->kernel().mappingCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Boards, VgaOverCsi, testing::ValuesIn(SimBoard::allKinds()),
                         [](const testing::TestParamInfo<BoardKind>& info) {
                             return std::string(SimBoard::nameOf(info.param));
                         });
