// Faults of the simulated boards behave as the real kernel does, and the CSI transport's open
// fails on each as it would on a real board.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <vector>

#include "core/ComponentFactory.h"
#include "core/QuarvelTOFSensor.h"
#include "sim/kernel/SimBoard.h"
#include "sim/kernel/SimulatedSystems.h"

using namespace Quarvel;
using sim::SimBoard;
using sim::SimFault;

namespace {

int openErrno(sim::SimKernel& kernel, const std::string& path) {
    errno = 0;
    const int fd = kernel.open(path.c_str(), O_RDWR);
    if (fd >= 0) {
        kernel.close(fd);
        return 0;
    }
    return errno;
}

int csiOpen(SimBoard& board) {
    std::unique_ptr<QuarvelTOFSensor> sensor =
        createCsiSensor("/dev/video0", board.expectedModel(), board.kernel());
    CameraInfo info{};
    const int status = sensor->open(info);
    sensor->close();
    return status;
}

}  // namespace

TEST(SimBoardFaults, NodesBelongToTheirGroupsAndStatSaysSo) {
    auto board = SimBoard::raspberryPi5().paced(false).build();
    struct stat status {};
    ASSERT_EQ(board->kernel().statPath("/dev/video0", &status), 0);
    EXPECT_TRUE(S_ISCHR(status.st_mode));
    EXPECT_EQ(status.st_gid, sim::kVideoGroupId);
    ASSERT_EQ(board->kernel().statPath("/dev/i2c-4", &status), 0);
    EXPECT_EQ(status.st_gid, sim::kI2cGroupId);
    errno = 0;
    EXPECT_EQ(board->kernel().statPath("/dev/video7", &status), -1);
    EXPECT_EQ(errno, ENOENT);
    std::vector<std::string> groups;
    ASSERT_EQ(board->kernel().readLines("/etc/group", 256, 10, &groups), 0);
    EXPECT_EQ(groups[1], "video:x:44:pi\n");
    EXPECT_EQ(groups[2], "i2c:x:998:pi\n");
    // Healthy, the transport opens.
    EXPECT_EQ(csiOpen(*board), 0);
}

TEST(SimBoardFaults, EachFaultFailsLikeTheRealKernelAndTheOpenFails) {
    for (sim::BoardKind kind : SimBoard::allKinds()) {
        for (SimFault fault : SimBoard::allFaults()) {
            auto board = SimBoard::of(kind).fault(fault).paced(false).build();
            sim::SimKernel& kernel = board->kernel();
            const std::string bus = "/dev/i2c-" + std::to_string(board->sensorBusNumber());
            SCOPED_TRACE(std::string(SimBoard::nameOf(kind)) + "+" + SimBoard::nameOf(fault));
            std::vector<std::string> entries;
            switch (fault) {
                case SimFault::NoVideoNode:
                    EXPECT_EQ(openErrno(kernel, "/dev/video0"), ENOENT);
                    break;
                case SimFault::VideoDenied:
                    EXPECT_EQ(openErrno(kernel, "/dev/video0"), EACCES);
                    break;
                case SimFault::I2cDenied:
                    EXPECT_EQ(openErrno(kernel, bus), EACCES);
                    EXPECT_EQ(openErrno(kernel, "/dev/video0"), 0);
                    break;
                case SimFault::NoI2cDev:
                    EXPECT_EQ(openErrno(kernel, bus), ENOENT);
                    EXPECT_EQ(kernel.listDirectory("/sys/class/i2c-dev", &entries), -1);
                    EXPECT_EQ(kernel.listDirectory("/sys/bus/i2c/devices", &entries), 0);
                    break;
                case SimFault::NoI2cBus:
                    EXPECT_EQ(openErrno(kernel, bus), ENOENT);
                    EXPECT_EQ(kernel.listDirectory("/sys/class/i2c-dev", &entries), 0);
                    break;
                default:
                    break;
            }
            const bool jetson = board->media() == nullptr;
            if (fault == SimFault::MediaLink && jetson) {
                EXPECT_EQ(csiOpen(*board), 0);  // no media graph, nothing to break
            } else if (fault == SimFault::MediaLink && kind != sim::BoardKind::RaspberryPi5) {
                // The walk does not look at links: the open succeeds, stream-on fails.
                EXPECT_EQ(csiOpen(*board), 0);
            } else {
                EXPECT_EQ(csiOpen(*board), QuarvelSystemError);
            }
        }
    }
}

TEST(SimBoardFaults, TheVariableNamesFaultsAfterTheSensor) {
    EXPECT_NE(sim::simulatedBoard("pi5:hqvga+i2c-denied+no-i2c-dev"), nullptr);
    EXPECT_NE(sim::simulatedBoard("pi5:hqvga+i2c-denied"), sim::simulatedBoard("pi5:hqvga"));
    EXPECT_EQ(sim::simulatedBoard("pi5:hqvga+no-such-fault"), nullptr);
    EXPECT_EQ(sim::simulatedBoard("orin:hqvga+media-link"), nullptr);
    sim::SimBoard* denied = sim::simulatedBoard("rock:vga+video-denied");
    ASSERT_NE(denied, nullptr);
    EXPECT_EQ(openErrno(denied->kernel(), "/dev/video0"), EACCES);
}
