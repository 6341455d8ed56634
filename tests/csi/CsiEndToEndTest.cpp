// Whole camera and bare transport over every simulated board: depth against the scene's
// ground truth, raw against the synthesised samples, nothing left open or mapped.
#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>

#include "core/QuarvelTOFCamera.h"
#include "sensor/SimulatedBoardSwitch.h"
#include "sim/kernel/SimulatedSystems.h"
#include "tests/csi/CsiTestSupport.h"
#include "tests/support/Waits.h"

using namespace Quarvel;
using namespace Quarvel::csitest;
using sim::BoardKind;
using sim::SimBoard;
using sim::SimSensor;

namespace {

constexpr int16_t kFrameTimeoutMs = support::kFrameArrivalMs;

// Takes frames until one whose sub-frames were all taken with the wanted modulation; `last`
// is the sub-frame the frame's timestamp names.
QuarvelFrameBuffer* frameWithModulation(QuarvelTOFCamera& camera, SimBoard& board,
                                        bool shortRange, sim::DeliveredSubframe* last) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        QuarvelFrameBuffer* frame = camera.requestFrame(kFrameTimeoutMs);
        if (frame == nullptr) return nullptr;
        FrameDataFormat format{};
        frame->getFormat(FrameType::RAW, format);
        frame->getFormat(FrameType::DEPTH, format);
        if (board.video().lookupMilliseconds(format.timestamp, last) &&
            last->shortRange == shortRange) {
            return frame;
        }
        camera.releaseFrame(frame);
    }
    return nullptr;
}

// Streams three frames of `type` and checks each against the scene.
void streamAndCheck(QuarvelTOFCamera& camera, SimBoard& board, FrameType type, bool shortRange) {
    ASSERT_EQ(camera.start(type), 0);
    for (int n = 0; n < 3; ++n) {
        sim::DeliveredSubframe last{};
        QuarvelFrameBuffer* frame = frameWithModulation(camera, board, shortRange, &last);
        ASSERT_NE(frame, nullptr);
        // The frame's time is its last sub-frame's: the fourth of one sensor frame.
        EXPECT_EQ(last.subframe, 3);
        if (type == FrameType::DEPTH) {
            const auto* depth = static_cast<const float*>(frame->getData(FrameType::DEPTH));
            ASSERT_NE(depth, nullptr);
            const DepthCheck check = checkHqvgaDepth(board, depth, shortRange);
            EXPECT_GT(check.validPixels, 30000);
            EXPECT_LT(check.medianRelativeError, 0.01);
            EXPECT_EQ(check.pixelsBeyondBound, 0) << check.worst;
        } else {
            const auto* raw = static_cast<const int16_t*>(frame->getData(FrameType::RAW));
            ASSERT_NE(raw, nullptr);
            // Lines of the four sub-frames alternate; each value is 16 x the phase value.
            int mismatches = 0;
            for (int sub = 0; sub < 4; ++sub) {
                const auto expected = synthesised(board, last.frame, sub, shortRange);
                for (int line = 0; line < 180; ++line) {
                    for (int column = 0; column < 240; ++column) {
                        const int want = 16 * phaseValue(expected[line * 240 + column]);
                        mismatches += raw[(4 * line + sub) * 240 + column] != want;
                    }
                }
            }
            EXPECT_EQ(mismatches, 0) << "frame " << last.frame;
        }
        camera.releaseFrame(frame);
    }
    EXPECT_EQ(camera.stop(), 0);
}

std::string boardName(const testing::TestParamInfo<BoardKind>& info) {
    return SimBoard::nameOf(info.param);
}

class EveryBoard : public testing::TestWithParam<BoardKind> {};

}  // namespace

TEST_P(EveryBoard, HqvgaDepthAndRawThroughTheCameraMatchTheScene) {
    auto board = SimBoard::of(GetParam()).sensor(SimSensor::Hqvga).paced(true).build();
    SeamComponents components(board->kernel());
    {
        QuarvelTOFCamera camera(components);
        EXPECT_EQ(camera.getBoardModel(), board->expectedModel());
        ASSERT_EQ(camera.open(Connection::CSI, 0), 0);
        const CameraInfo info = camera.getCameraInfo();
        EXPECT_EQ(info.width, 240u);
        EXPECT_EQ(info.height, 180u);
        EXPECT_EQ(info.bit_width, 12u);
        EXPECT_EQ(info.bpp, 2u);
        EXPECT_EQ(info.device_type, HQVGA);

        streamAndCheck(camera, *board, FrameType::DEPTH, false);
        streamAndCheck(camera, *board, FrameType::RAW, false);
        // The 2 m range switches the modulation through the sensor subdevice's control; a
        // Jetson has none, so its sensor stays in the 4 m range.
        if (board->sensorSubdevice() != nullptr) {
            ASSERT_EQ(camera.setControl(CameraCtrl::RANGE, 2000), 0);
            int32_t control = -1;
            ASSERT_EQ(board->chip().getControl(sim::SimSensorChip::kRangeControl, &control), 0);
            EXPECT_EQ(control, 1);
            streamAndCheck(camera, *board, FrameType::DEPTH, true);
        }
        EXPECT_EQ(camera.close(), 0);
    }
    EXPECT_EQ(board->kernel().openDescriptorCount(), 0);
    EXPECT_EQ(board->kernel().mappingCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Boards, EveryBoard, testing::ValuesIn(SimBoard::allKinds()), boardName);

// The transport alone: one frame is the sub-frames' samples as the board's hardware delivers
// them, in order, without padding. The 640x480 frame is the VGA device's block frame:
// 640 x 2405 samples (five blocks of 481 lines) in one buffer.
class TransportBytes : public testing::TestWithParam<std::tuple<BoardKind, SimSensor>> {};

TEST_P(TransportBytes, AFrameIsTheSynthesisedSamplesAsTheBoardDeliversThem) {
    const BoardKind kind = std::get<0>(GetParam());
    const bool vga = std::get<1>(GetParam()) == SimSensor::Vga;
    OpenSensor open(SimBoard::of(kind).sensor(std::get<1>(GetParam())));
    ASSERT_EQ(open.openResult, 0) << open.message;
    EXPECT_EQ(open.info.width, vga ? 640u : 240u);
    EXPECT_EQ(open.info.height, vga ? 480u : 180u);
    if (vga) {
        open.sensor->subframeCount = 1;
        ASSERT_EQ(open.sensor->setControl(CameraCtrl::FMT_WIDTH, 640), 0);
        ASSERT_EQ(open.sensor->setControl(CameraCtrl::FMT_HEIGHT, 2405), 0);
    }
    ASSERT_EQ(open.sensor->start(), 0);
    const int subframes = vga ? 1 : 4;
    const size_t samples = vga ? 640u * 2405u : 240u * 180u;
    std::vector<uint8_t> frame(samples * subframes * 2, 0xEE);
    for (int n = 0; n < 2; ++n) {
        uint64_t timestamp = 0;
        ASSERT_EQ(open.sensor->getFrame(frame.data(), &timestamp), 0);
        sim::DeliveredSubframe last{};
        ASSERT_TRUE(open.board->video().lookupMilliseconds(timestamp, &last));
        // Packed 12-bit unpacking never reads a buffer's last 8 bytes: on the Pi 5 the last
        // four samples of an unpadded 640-wide frame stay as they were.
        const size_t unread = vga && kind == BoardKind::RaspberryPi5 ? 4 : 0;
        for (int sub = 0; sub < subframes; ++sub) {
            const auto expected = synthesised(*open.board, last.frame, sub, false);
            ASSERT_EQ(expected.size(), samples);
            EXPECT_EQ(wordMismatches(kind, frame.data(), sub * samples, expected,
                                     samples - unread),
                      0)
                << "sub-frame " << sub;
        }
        for (size_t i = 2 * (samples - unread); i < 2 * samples; ++i) EXPECT_EQ(frame[i], 0xEE);
    }
    EXPECT_EQ(open.sensor->stop(), 0);
    EXPECT_EQ(open.sensor->close(), 0);
    EXPECT_EQ(open.kernel().openDescriptorCount(), 0);
    EXPECT_EQ(open.kernel().mappingCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Boards, TransportBytes,
    testing::Combine(testing::ValuesIn(SimBoard::allKinds()),
                     testing::Values(SimSensor::Hqvga, SimSensor::Vga)),
    [](const testing::TestParamInfo<std::tuple<BoardKind, SimSensor>>& info) {
        return std::string(SimBoard::nameOf(std::get<0>(info.param))) +
               (std::get<1>(info.param) == SimSensor::Vga ? "Vga" : "Hqvga");
    });

// The user switch: a camera built without arguments, with the variable naming a board,
// runs on that board as on a real one; an unknown name falls back with a message.
TEST(SimulatedBoardSwitch, EnvironmentVariableRunsTheCameraOnTheNamedBoard) {
    ASSERT_EQ(setenv(kSimulatedBoardVariable, "pi5:hqvga", 1), 0);
    sim::SimBoard* board = sim::simulatedBoard("pi5:hqvga");
    ASSERT_NE(board, nullptr);
    {
        QuarvelTOFCamera camera;
        EXPECT_EQ(camera.getBoardModel(), BOARD_RASPBERRY_PI_5);
        ASSERT_EQ(camera.open(Connection::CSI, 0), 0);
        ASSERT_EQ(camera.start(FrameType::DEPTH), 0);
        QuarvelFrameBuffer* frame = camera.requestFrame(kFrameTimeoutMs);
        ASSERT_NE(frame, nullptr);
        const DepthCheck check = checkHqvgaDepth(
            *board, static_cast<const float*>(frame->getData(FrameType::DEPTH)), false);
        EXPECT_LT(check.medianRelativeError, 0.01);
        EXPECT_EQ(check.pixelsBeyondBound, 0) << check.worst;
        camera.releaseFrame(frame);
        EXPECT_EQ(camera.stop(), 0);
        EXPECT_EQ(camera.close(), 0);
    }
    EXPECT_EQ(board->kernel().openDescriptorCount(), 0);

    ASSERT_EQ(setenv(kSimulatedBoardVariable, "pi9:hqvga", 1), 0);
    const std::string message = capturedStderr([] { QuarvelTOFCamera camera; });
    EXPECT_NE(message.find("QUARVEL_SIMULATED_BOARD=pi9:hqvga: unknown board or sensor"),
              std::string::npos)
        << message;
    unsetenv(kSimulatedBoardVariable);
}
