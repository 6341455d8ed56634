// I2C adapter functions: the requests each one makes, its messages on failure, and the
// exported plain C symbols.
#include <gtest/gtest.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/ioctl.h>

#include <cerrno>

#include "sensor/I2cAdapter.h"
#include "tests/csi/CsiTestSupport.h"

using namespace Quarvel;
using csitest::capturedStderr;

namespace {

struct I2cAdapter : testing::Test {
    std::unique_ptr<sim::SimBoard> board = sim::SimBoard::raspberryPi4().build();
    sim::SimKernel& kernel = board->kernel();
    sim::SimI2cAdapter& bus = board->sensorBus();
    int fd = -1;
    void SetUp() override {
        char name[20] = {};
        fd = i2c::openDevice(kernel, 10, name, sizeof name, 0);
        ASSERT_GE(fd, 0);
        EXPECT_STREQ(name, "/dev/i2c-10");
        EXPECT_EQ(kernel.openDescriptorPaths(), std::vector<std::string>{"/dev/i2c-10"});
    }
    void TearDown() override { kernel.close(fd); }
};

}  // namespace

TEST_F(I2cAdapter, OpenFailuresNameTheNodeAndTheCauseUnlessQuiet) {
    const struct {
        int bus;
        int quiet;
        std::function<void()> arrange;
        const char* message;
    } cases[] = {
        {3, 0, [] {}, "Error: Could not open file `/dev/i2c-3': No such file or directory\n"},
        {3, 1, [] {}, ""},
        {10, 0, [&] { kernel.addFault({sim::Call::Open, 0, "/dev/i2c-10", EBUSY, 1}); },
         "Error: Could not open file `/dev/i2c-10': Device or resource busy\n"},
        {10, 0, [&] { kernel.denyAccess("/dev/i2c-10"); },
         "Error: Could not open file `/dev/i2c-10': Permission denied\nRun as root?\n"},
    };
    for (const auto& entry : cases) {
        entry.arrange();
        char name[20];
        int result = 0;
        EXPECT_EQ(capturedStderr([&] {
                      result = i2c::openDevice(kernel, entry.bus, name, sizeof name, entry.quiet);
                  }),
                  entry.message);
        EXPECT_EQ(result, -1);
    }
}

TEST_F(I2cAdapter, FunctionalityIsTheAdaptersBitsOrMinusErrno) {
    unsigned long funcs = 0;
    EXPECT_EQ(i2c::getFunctionality(kernel, fd, &funcs), 0);
    EXPECT_EQ(funcs, static_cast<unsigned long>(I2C_FUNC_I2C | I2C_FUNC_SMBUS_EMUL));
    kernel.addFault({sim::Call::Ioctl, I2C_FUNCS, "", EIO, 1});
    int result = 0;
    EXPECT_EQ(capturedStderr([&] { result = i2c::getFunctionality(kernel, fd, &funcs); }),
              "Error: Could not get adapter functionality: Input/output error\n");
    EXPECT_EQ(result, -EIO);
}

TEST_F(I2cAdapter, SlaveAddressUsesForceOnlyWhenAsked) {
    // The sensor chip at 0x0c has a kernel driver: a plain claim is refused, a forced one works.
    int result = 0;
    EXPECT_EQ(capturedStderr([&] { result = i2c::setSlaveAddress(kernel, fd, 0x0c, 0); }),
              "Error: Could not set address to 0x0c: Device or resource busy\n");
    EXPECT_EQ(result, -EBUSY);
    EXPECT_EQ(i2c::setSlaveAddress(kernel, fd, 0x0c, 1), 0);
    EXPECT_EQ(bus.slaveAddress(), 0x0c);
    EXPECT_EQ(i2c::setSlaveAddress(kernel, fd, 0x50, 0), 0);
    EXPECT_EQ(bus.slaveAddress(), 0x50);
}

TEST_F(I2cAdapter, TimeoutAndRetriesOfZeroSendTheirDefaultsAndFailuresNameTheValueGiven) {
    EXPECT_EQ(i2c::setAdapterTimeout(kernel, fd, 0), 0);
    EXPECT_EQ(bus.timeout(), 3);
    EXPECT_EQ(i2c::setAdapterTimeout(kernel, fd, 25), 0);
    EXPECT_EQ(bus.timeout(), 25);
    EXPECT_EQ(i2c::setAdapterRetries(kernel, fd, 0), 0);
    EXPECT_EQ(bus.retries(), 2);
    EXPECT_EQ(i2c::setAdapterRetries(kernel, fd, 5), 0);
    EXPECT_EQ(bus.retries(), 5);

    kernel.addFault({sim::Call::Ioctl, I2C_TIMEOUT, "", EINVAL, 1});
    kernel.addFault({sim::Call::Ioctl, I2C_RETRIES, "", EINVAL, 1});
    int timeoutResult = 0;
    int retriesResult = 0;
    EXPECT_EQ(capturedStderr([&] {
                  timeoutResult = i2c::setAdapterTimeout(kernel, fd, 0);
                  retriesResult = i2c::setAdapterRetries(kernel, fd, 0);
              }),
              "Error: Could not set timeout to 0: Invalid argument\n"
              "Error: Could not set retries to 0: Invalid argument\n");
    EXPECT_EQ(timeoutResult, -EINVAL);
    EXPECT_EQ(retriesResult, -EINVAL);
}

// The exported symbols reach the real system: without such a bus, the messages and
// results of a real machine.
TEST(ExportedI2cFunctions, PlainSymbolsWorkOnTheRealSystem) {
    char name[32] = {};
    int fd = 0;
    const std::string message =
        capturedStderr([&] { fd = i2c_open_i2c_dev(1048575, name, sizeof name, 0); });
    EXPECT_EQ(fd, -1);
    EXPECT_STREQ(name, "/dev/i2c-1048575");
    EXPECT_NE(message.find("Error: Could not open file `"), std::string::npos) << message;
    EXPECT_EQ(capturedStderr([&] { i2c_open_i2c_dev(1048575, name, sizeof name, 1); }), "");

    // A real kernel refuses a bad descriptor before it looks at the request; qemu-user
    // answers ENOSYS to the I2C requests it does not carry, whatever the descriptor.
    unsigned long probe = 0;
    if (ioctl(-1, I2C_FUNCS, &probe) == -1 && errno == ENOSYS) {
        GTEST_SKIP() << "I2C requests do not reach a kernel here (qemu-user answers ENOSYS)";
    }
    unsigned long funcs = 0;
    int result = 0;
    EXPECT_EQ(capturedStderr([&] { result = i2c_get_functionality(-1, &funcs); }),
              "Error: Could not get adapter functionality: Bad file descriptor\n");
    EXPECT_EQ(result, -EBADF);
    capturedStderr([&] {
        EXPECT_EQ(i2c_set_slave_addr(-1, 0x0c, 1), -EBADF);
        EXPECT_EQ(i2c_set_adapter_timeout(-1, 0), -EBADF);
        EXPECT_EQ(i2c_set_adapter_retries(-1, 0), -EBADF);
    });
}
