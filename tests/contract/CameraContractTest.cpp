// The camera streaming a test driver's frames through the production CSI transport.
#include <gtest/gtest.h>

#include <cstring>

#include "core/ComponentFactory.h"
#include "core/FrameBuffer.h"
#include "core/QuarvelTOFCamera.h"
#include "core/Types.h"
#include "tests/contract/ContractNodes.h"
#include "tests/contract/ContractTarget.h"
#include "tests/contract/PresentedNodeSystemCalls.h"
#include "tests/contract/RawPassThroughDevice.h"

namespace Quarvel {
namespace contract {
namespace {

// The production CSI transport over the overlay, as on a Jetson Nano (the driver's node has
// no subdevices), and the pass-through device whatever the size.
class PresentedNodeComponents final : public ComponentFactory {
public:
    explicit PresentedNodeComponents(PresentedNodeSystemCalls& system) : system(system) {}
    std::unique_ptr<QuarvelTOFSensor> makeCsiSensor(const char* devicePath, int) const override {
        return createCsiSensor(devicePath, BOARD_JETSON_NANO, system);
    }
    std::unique_ptr<QuarvelTOFSensor> makeUsbSensor(const std::string&, int) const override {
        return nullptr;
    }
    std::unique_ptr<QuarvelDevice> makeHqvgaDevice(int board) const override {
        return std::make_unique<RawPassThroughDevice>(board);
    }
    std::unique_ptr<QuarvelDevice> makeVgaDevice(int board) const override {
        return std::make_unique<RawPassThroughDevice>(board);
    }
    SystemCalls& systemCalls() const override { return system; }

private:
    PresentedNodeSystemCalls& system;
};

TEST(CameraContract, RawFramesThroughTheCameraAreTheDriversBuffers) {
    const ContractTarget& target = contractTarget();
    const VideoNode node = findVideoNode(*target.system, "vivid", V4L2_BUF_TYPE_VIDEO_CAPTURE);
    ASSERT_FALSE(node.path.empty());
    const int index = std::stoi(node.path.substr(std::strlen("/dev/video")));
    v4l2_format negotiated{};
    {
        UniqueFd fd = openNode(*target.system, node.path);
        ASSERT_TRUE(fd.isValid());
        negotiated.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        ASSERT_EQ(0, requestError(*target.system, fd.get(), VIDIOC_G_FMT, &negotiated));
    }
    PresentedNodeSystemCalls overlay(*target.system, node.major, node.minor, target.stubBus);
    PresentedNodeComponents components(overlay);
    QuarvelTOFCamera camera(components);
    ASSERT_EQ(0, camera.open(Connection::CSI, index));
    ASSERT_EQ(0, camera.setControl(CameraCtrl::AUTO_FRAME_RATE, 0));
    ASSERT_EQ(0, camera.start(FrameType::RAW));
    const CameraInfo info = camera.getCameraInfo();
    EXPECT_EQ(negotiated.fmt.pix.width, info.width);
    EXPECT_EQ(negotiated.fmt.pix.height, info.height);
    const size_t frameBytes = static_cast<size_t>(info.width) * info.height * 2;

    uint64_t previous = 0;
    for (int count = 0; count < 4; ++count) {
        QuarvelFrameBuffer* frame = camera.requestFrame(3000);
        ASSERT_NE(nullptr, frame) << "frame " << count;
        FrameDataFormat format{};
        ASSERT_EQ(0, frame->getFormat(FrameType::RAW, format));
        EXPECT_EQ(info.width, format.width);
        EXPECT_EQ(info.height, format.height);
        EXPECT_GT(format.timestamp, previous);
        previous = format.timestamp;
        const std::vector<uint8_t> written = overlay.dequeuedAt(format.timestamp);
        ASSERT_EQ(frameBytes, written.size()) << "the buffer behind timestamp " << format.timestamp;
        const auto* delivered = static_cast<const uint8_t*>(frame->getData(FrameType::RAW));
        ASSERT_NE(nullptr, delivered);
        EXPECT_EQ(0, std::memcmp(written.data(), delivered, frameBytes)) << "frame " << count;
        EXPECT_EQ(0, camera.releaseFrame(frame));
    }
    EXPECT_EQ(0, camera.stop());
    EXPECT_EQ(0, camera.close());
}

}  // namespace
}  // namespace contract
}  // namespace Quarvel
