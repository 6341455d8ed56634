// Two cameras streaming at once in one process, a simulated USB camera and a simulated
// Raspberry Pi 5 CSI board, each read by its own thread: neither disturbs the other's frames.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <sstream>
#include <thread>

#include "core/QuarvelTOFCamera.h"
#include "sdk/usb/quarvel_evk_sim.h"
#include "sensor/SimulatedBoardSwitch.h"
#include "sim/kernel/SimBoard.h"
#include "tests/csi/CsiTestSupport.h"
#include "tests/stress/StressSupport.h"
#include "tests/usb/UsbTestSupport.h"

using namespace Quarvel;
using Clock = std::chrono::steady_clock;

TEST(TwoCameras, UsbAndCsiStreamTogetherAndEachDeliversItsOwnIntactFrames) {
    const stress::ReplayedFrames expected;
    usbtest::ScratchDirectory scratch;
    QuarvelTOFCamera usb;
    ASSERT_EQ(
        usb.openWithFile(scratch.write("camera.conf", stress::replayingHqvgaCamera()).c_str(), 0),
        0);
    auto board = sim::SimBoard::raspberryPi5().paced(false).build();
    SeamComponents components(board->kernel());
    std::unique_ptr<QuarvelTOFCamera> csi = std::make_unique<QuarvelTOFCamera>(components);
    ASSERT_EQ(csi->open(Connection::CSI, 0), 0);
    ASSERT_EQ(csi->getCameraInfo().device_type, HQVGA);

    const int64_t usbTarget = stress::scaled(20000);
    const int64_t csiTarget = stress::scaled(200, 5);
    const Clock::time_point deadline =
        Clock::now() + stress::scaledDuration(std::chrono::seconds(30));
    ASSERT_EQ(usb.start(FrameType::DEPTH), 0);
    ASSERT_EQ(csi->start(FrameType::DEPTH), 0);

    stress::DeliveryChecker usbChecker(&expected);
    usbChecker.newStream(FrameType::DEPTH);
    std::thread usbReader([&] {
        while (usbChecker.checked < usbTarget && Clock::now() < deadline &&
               usbChecker.faults.empty()) {
            QuarvelFrameBuffer* frame = usb.requestFrame(1000);
            if (frame == nullptr) continue;
            usbChecker.handedOut(frame);
            usb.releaseFrame(frame);
            usbChecker.released(frame);
        }
    });

    // The CSI board's frames against the scene's ground truth, on this thread.
    stress::DeliveryChecker csiChecker(nullptr);
    csiChecker.newStream(FrameType::DEPTH);
    int64_t depthFailures = 0;
    std::string worst;
    while (csiChecker.checked < csiTarget && Clock::now() < deadline) {
        QuarvelFrameBuffer* frame = csi->requestFrame(3000);
        ASSERT_NE(frame, nullptr);
        csiChecker.handedOut(frame);
        const csitest::DepthCheck check = csitest::checkHqvgaDepth(
            *board, static_cast<const float*>(frame->getData(FrameType::DEPTH)), false);
        if (!check.matchesScene()) {
            ++depthFailures;
            worst = check.worst;
        }
        ASSERT_EQ(csi->releaseFrame(frame), 0);
        csiChecker.released(frame);
    }
    usbReader.join();
    EXPECT_EQ(usb.stop(), 0);
    EXPECT_EQ(csi->stop(), 0);
    EXPECT_EQ(QuarvelSimFramesLent(), 0);
    EXPECT_EQ(usb.close(), 0);
    EXPECT_EQ(csi->close(), 0);
    const int32_t csiStreamed = csi->frameCountDelivered();
    csi.reset();
    EXPECT_EQ(board->kernel().openDescriptorCount(), 0);
    EXPECT_EQ(board->kernel().mappingCount(), 0u);

    std::ostringstream line;
    line << "two cameras: USB frames checked " << usbChecker.checked << " (streamed "
         << usb.frameCountDelivered() << "), CSI frames checked against ground truth "
         << csiChecker.checked << " (streamed " << csiStreamed << ")";
    stress::report(line.str());
    EXPECT_EQ(depthFailures, 0) << worst;
    EXPECT_GT(usbChecker.checked, 0);
    EXPECT_GT(csiChecker.checked, 0);
    for (const std::string& fault : usbChecker.faults) ADD_FAILURE() << "USB: " << fault;
    for (const std::string& fault : csiChecker.faults) ADD_FAILURE() << "CSI: " << fault;
}
