// i2c-dev on the i2c-stub adapter: bus lookup, functionality, the exported functions and
// their messages.
#include <gtest/gtest.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <cerrno>

#include "sensor/I2cBusLookup.h"
#include "tests/contract/ContractNodes.h"
#include "tests/contract/ContractTarget.h"
#include "tests/support/CapturedStderr.h"

namespace Quarvel {
namespace contract {
namespace {

using support::capturedStderr;

class I2cContract : public ::testing::Test {
protected:
    void SetUp() override {
        char filename[20] = {};
        fd = i2c.openDevice(target.stubBus, filename, sizeof filename, 0);
        ASSERT_GE(fd, 0) << "the stub adapter's node";
        EXPECT_EQ("/dev/i2c-" + std::to_string(target.stubBus), filename);
    }
    void TearDown() override {
        if (fd >= 0) system.close(fd);
    }

    const ContractTarget& target = contractTarget();
    SystemCalls& system = *target.system;
    const I2cFunctions& i2c = target.i2c;
    int fd = -1;
};

TEST_F(I2cContract, AdapterIsFoundByItsSysfsNameAndByItsNumber) {
    int bus = -1;
    EXPECT_EQ("", capturedStderr([&] { bus = lookupI2cBus(system, target.stubName.c_str()); }));
    EXPECT_EQ(target.stubBus, bus);
    const std::string number = std::to_string(target.stubBus);
    EXPECT_EQ(target.stubBus, lookupI2cBus(system, number.c_str()));
    bool listed = false;
    for (const I2cAdapterEntry& entry : listI2cAdapters(system)) {
        listed = listed || (entry.bus == target.stubBus && entry.name == target.stubName);
    }
    EXPECT_TRUE(listed) << target.stubName;
    EXPECT_EQ("Error: I2C bus name doesn't match any bus present!\n",
              capturedStderr([&] { EXPECT_LT(lookupI2cBus(system, "no such adapter"), 0); }));
}

TEST_F(I2cContract, StubOffersSmbusButNotPlainTransfers) {
    unsigned long funcs = 0;
    ASSERT_EQ(0, i2c.getFunctionality(fd, &funcs));
    EXPECT_FALSE(funcs & I2C_FUNC_I2C);
    EXPECT_TRUE(funcs & I2C_FUNC_SMBUS_QUICK);
    EXPECT_TRUE(funcs & I2C_FUNC_SMBUS_BYTE_DATA);
    EXPECT_TRUE(funcs & I2C_FUNC_SMBUS_WORD_DATA);

    // So a combined transfer, which the CSI transport's frame-rate write uses, is refused.
    uint8_t bytes[6] = {0x06, 0x33, 0, 0, 0, 30};
    i2c_msg message{0x0C, 0, sizeof bytes, bytes};
    i2c_rdwr_ioctl_data transfer{&message, 1};
    EXPECT_EQ(EOPNOTSUPP, requestError(system, fd, I2C_RDWR, &transfer));
    i2c_rdwr_ioctl_data empty{&message, 0};
    EXPECT_EQ(EINVAL, requestError(system, fd, I2C_RDWR, &empty));
}

TEST_F(I2cContract, SettersAcceptDefaultsAndReportRefusalsWithTheirValue) {
    EXPECT_EQ("", capturedStderr([&] {
                  EXPECT_EQ(0, i2c.setSlaveAddress(fd, 0x0C, 0));
                  EXPECT_EQ(0, i2c.setSlaveAddress(fd, 0x0C, 1));
                  EXPECT_EQ(0, i2c.setAdapterTimeout(fd, 0));
                  EXPECT_EQ(0, i2c.setAdapterTimeout(fd, 25));
                  EXPECT_EQ(0, i2c.setAdapterRetries(fd, 0));
                  EXPECT_EQ(0, i2c.setAdapterRetries(fd, 5));
              }));
    EXPECT_EQ("Error: Could not set address to 0x80: Invalid argument\n",
              capturedStderr([&] { EXPECT_EQ(-EINVAL, i2c.setSlaveAddress(fd, 0x80, 0)); }));
    EXPECT_EQ("Error: Could not set timeout to -1: Invalid argument\n",
              capturedStderr([&] { EXPECT_EQ(-EINVAL, i2c.setAdapterTimeout(fd, -1)); }));
    EXPECT_EQ("Error: Could not set retries to -1: Invalid argument\n",
              capturedStderr([&] { EXPECT_EQ(-EINVAL, i2c.setAdapterRetries(fd, -1)); }));
}

TEST_F(I2cContract, FailuresOnBadNodesNameTheirCause) {
    char filename[20] = {};
    EXPECT_EQ(
        "Error: Could not open file `/dev/i2c-200': No such file or directory\n",
        capturedStderr([&] { EXPECT_EQ(-1, i2c.openDevice(200, filename, sizeof filename, 0)); }));
    EXPECT_EQ("", capturedStderr(
                      [&] { EXPECT_EQ(-1, i2c.openDevice(200, filename, sizeof filename, 1)); }));

    // A number above the descriptor limit: a closed one could be reused by the capture.
    constexpr int kNeverOpened = 1 << 20;
    unsigned long funcs = 0;
    EXPECT_EQ(
        "Error: Could not get adapter functionality: Bad file descriptor\n",
        capturedStderr([&] { EXPECT_EQ(-EBADF, i2c.getFunctionality(kNeverOpened, &funcs)); }));
}

}  // namespace
}  // namespace contract
}  // namespace Quarvel
