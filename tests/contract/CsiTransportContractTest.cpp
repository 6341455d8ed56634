// The production CSI transport streaming a test driver's frames, every byte the driver's.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "core/Types.h"
#include "sensor/QuarvelTOFCSISensor.h"
#include "tests/contract/ContractNodes.h"
#include "tests/contract/ContractTarget.h"
#include "tests/contract/PresentedNodeSystemCalls.h"

namespace Quarvel {
namespace contract {
namespace {

class CsiTransportContract : public ::testing::Test {
protected:
    void SetUp() override {
        node = findVideoNode(*target.system, "vivid", V4L2_BUF_TYPE_VIDEO_CAPTURE);
        ASSERT_FALSE(node.path.empty());
        // Y12 at the driver's own default size, as a sensor would report it.
        UniqueFd fd = openNode(*target.system, node.path);
        ASSERT_TRUE(fd.isValid());
        v4l2_format fmt{};
        fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        ASSERT_EQ(0, requestError(*target.system, fd.get(), VIDIOC_G_FMT, &fmt));
        fmt.fmt.pix.pixelformat = V4L2_PIX_FMT_Y12;
        fmt.fmt.pix.field = V4L2_FIELD_NONE;
        ASSERT_EQ(0, requestError(*target.system, fd.get(), VIDIOC_S_FMT, &fmt));
        negotiated = fmt;
        overlay = std::make_unique<PresentedNodeSystemCalls>(*target.system, node.major, node.minor,
                                                             target.stubBus);
        sensor =
            std::make_unique<QuarvelTOFCSISensor>(*overlay, node.path.c_str(), BOARD_JETSON_NANO);
    }
    void TearDown() override {
        if (sensor) sensor->close();
    }

    const ContractTarget& target = contractTarget();
    VideoNode node;
    v4l2_format negotiated{};
    std::unique_ptr<PresentedNodeSystemCalls> overlay;
    std::unique_ptr<QuarvelTOFCSISensor> sensor;
};

TEST_F(CsiTransportContract, DeliveredFramesAreTheDriversBytesAtTheNegotiatedSize) {
    CameraInfo info{};
    ASSERT_EQ(0, sensor->open(info));
    EXPECT_EQ(std::to_string(target.stubBus), sensor->busName());
    EXPECT_EQ(negotiated.fmt.pix.width, info.width);
    EXPECT_EQ(negotiated.fmt.pix.height, info.height);
    EXPECT_EQ(12u, info.bit_width);
    ASSERT_EQ(0, sensor->start());
    EXPECT_EQ(8, sensor->grantedBufferCount());

    const size_t frameBytes = static_cast<size_t>(info.width) * info.height * 2;
    ASSERT_EQ(frameBytes, negotiated.fmt.pix.sizeimage);
    std::vector<uint8_t> frame(frameBytes);
    uint64_t previous = 0;
    bool patterned = false;
    for (int count = 0; count < 6; ++count) {
        std::fill(frame.begin(), frame.end(), 0xA5);
        uint64_t milliseconds = 0;
        ASSERT_EQ(0, sensor->getFrame(frame.data(), &milliseconds));
        const std::vector<uint8_t> written = overlay->lastDequeued();
        ASSERT_EQ(frameBytes, written.size()) << "the driver's buffer, read directly";
        EXPECT_TRUE(written == frame) << "frame " << count << " differs from the buffer";
        EXPECT_EQ(static_cast<uint64_t>(overlay->lastTimestampMicroseconds() / 1000), milliseconds);
        EXPECT_GT(milliseconds, previous);
        previous = milliseconds;
        // Y12 keeps its samples in the low 12 bits of little-endian words.
        bool twelveBits = true;
        for (size_t i = 1; i < frame.size(); i += 2) twelveBits = twelveBits && frame[i] < 0x10;
        EXPECT_TRUE(twelveBits) << "frame " << count;
        patterned = patterned || std::any_of(frame.begin(), frame.end(),
                                             [&](uint8_t byte) { return byte != frame[0]; });
    }
    EXPECT_TRUE(patterned) << "the frames carry a picture, not one repeated byte";
    EXPECT_EQ(6, overlay->dequeuedCount());

    // The stub adapter has no plain transfers: the frame-rate write fails and says so.
    EXPECT_EQ(QuarvelSystemError, sensor->setControl(CameraCtrl::FRAME_RATE, 30));
    int rate = 0;
    EXPECT_EQ(0, sensor->getControl(CameraCtrl::FRAME_RATE, &rate));
    EXPECT_EQ(30, rate);
    EXPECT_EQ(0, sensor->stop());
    EXPECT_EQ(0, sensor->close());
}

TEST_F(CsiTransportContract, SizeTheDriverAdjustsFailsTheStartAndNothingStreams) {
    CameraInfo info{};
    ASSERT_EQ(0, sensor->open(info));
    ASSERT_EQ(0, sensor->setControl(CameraCtrl::FMT_WIDTH, 333));
    ASSERT_EQ(0, sensor->setControl(CameraCtrl::FMT_HEIGHT, 201));
    EXPECT_EQ(QuarvelUnkownError, sensor->start()) << "the read-back size differs";
    EXPECT_EQ(0, overlay->dequeuedCount());
    // Back at the driver's own size the same transport starts.
    ASSERT_EQ(0, sensor->setControl(CameraCtrl::FMT_WIDTH, static_cast<int>(info.width)));
    ASSERT_EQ(0, sensor->setControl(CameraCtrl::FMT_HEIGHT, static_cast<int>(info.height)));
    ASSERT_EQ(0, sensor->start());
    std::vector<uint8_t> frame(static_cast<size_t>(info.width) * info.height * 2);
    uint64_t milliseconds = 0;
    ASSERT_EQ(0, sensor->getFrame(frame.data(), &milliseconds));
    EXPECT_TRUE(overlay->lastDequeued() == frame);
    EXPECT_EQ(0, sensor->stop());
}

TEST_F(CsiTransportContract, StreamRestartsAfterStop) {
    CameraInfo info{};
    ASSERT_EQ(0, sensor->open(info));
    std::vector<uint8_t> frame(static_cast<size_t>(info.width) * info.height * 2);
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(0, sensor->start()) << "round " << round;
        uint64_t milliseconds = 0;
        ASSERT_EQ(0, sensor->getFrame(frame.data(), &milliseconds));
        EXPECT_TRUE(overlay->lastDequeued() == frame);
        ASSERT_EQ(0, sensor->stop());
    }
}

}  // namespace
}  // namespace contract
}  // namespace Quarvel
