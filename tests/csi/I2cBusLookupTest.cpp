// Bus lookup by number or adapter name over /proc/bus/i2c or the sysfs i2c-dev class, and
// the chip-address parser.
#include <gtest/gtest.h>

#include "sensor/I2cBusLookup.h"
#include "sim/kernel/SimKernel.h"
#include "tests/csi/CsiTestSupport.h"

using namespace Quarvel;
using csitest::capturedStderr;

namespace {

const char* kNoMatch = "Error: I2C bus name doesn't match any bus present!\n";

struct LookupFixture : testing::Test {
    sim::SimKernel kernel;
    int lookup(const char* text, std::string* message = nullptr) {
        int bus = 0;
        const std::string printed = capturedStderr([&] { bus = lookupI2cBus(kernel, text); });
        if (message) *message = printed;
        return bus;
    }
    void sysfs() {
        kernel.addFile("/proc/mounts", "proc /proc proc rw 0 0\nsysfs /sys SysFs rw,nosuid 0 0\n");
    }
};

}  // namespace

TEST_F(LookupFixture, NumbersAreBusesWithoutReadingAnything) {
    EXPECT_EQ(lookup("10"), 10);
    EXPECT_EQ(lookup("0x0a"), 10);
    EXPECT_EQ(lookup("012"), 10);
    EXPECT_EQ(lookup("1048575"), 1048575);
    EXPECT_TRUE(kernel.trace().empty());
}

TEST_F(LookupFixture, ANumberAbove0xFFFFFIsOutOfRange) {
    std::string message;
    EXPECT_LT(lookup("1048576", &message), 0);
    EXPECT_EQ(message, "Error: I2C bus out of range!\n");
}

TEST_F(LookupFixture, AnEmptyTextIsANameThatMatchesNothing) {
    std::string message;
    EXPECT_LT(lookup("", &message), 0);
    EXPECT_EQ(message, kNoMatch);
}

TEST_F(LookupFixture, NamesFromProcBusI2cWithTrailingBlanksTrimmed) {
    kernel.addFile("/proc/bus/i2c",
                   "i2c-1\ti2c       \tbcm2835 (i2c@7e804000)          \tI2C adapter\n"
                   "too\tfew tabs\n"
                   "i2c-10\ti2c       \ti2c-22-mux (chan_id 1)          \tI2C adapter\n");
    sysfs();  // never consulted when /proc/bus/i2c exists
    kernel.addFile("/sys/class/i2c-dev/i2c-7/name", "i2c-22-mux (chan_id 1)\n");
    EXPECT_EQ(lookup("i2c-22-mux (chan_id 1)"), 10);
    EXPECT_EQ(lookup("bcm2835 (i2c@7e804000)"), 1);
    std::string message;
    EXPECT_LT(lookup("bcm2835", &message), 0);  // whole text, exactly
    EXPECT_EQ(message, kNoMatch);
}

TEST_F(LookupFixture, NamesFromSysfsFoundThroughProcMountsIgnoringTheTypesCase) {
    sysfs();
    kernel.addFile("/sys/class/i2c-dev/i2c-3/name", "rk3x-i2c\n");
    kernel.addFile("/sys/class/i2c-dev/i2c-30/device/name", "i2c-2-mux (chan_id 0)\n");
    kernel.addDirectory("/sys/class/i2c-dev/i2c-31/device/power");
    kernel.addFile("/sys/class/i2c-dev/i2c-31/device/i2c-31/name", "deep adapter\n");
    EXPECT_EQ(lookup("rk3x-i2c"), 3);
    EXPECT_EQ(lookup("i2c-2-mux (chan_id 0)"), 30);
    EXPECT_EQ(lookup("deep adapter"), 31);
}

TEST_F(LookupFixture, ANameFileThatReadsNothingSkipsItsAdapterWithAMessage) {
    sysfs();
    kernel.addFile("/sys/class/i2c-dev/i2c-4/name", "");
    kernel.addFile("/sys/class/i2c-dev/i2c-5/name", "good\n");
    std::string message;
    EXPECT_EQ(lookup("good", &message), 5);
    EXPECT_EQ(message, "/sys/class/i2c-dev/i2c-4/name: read error\n");
}

TEST_F(LookupFixture, AnEntryNotNamedI2cNumberIsSkipped) {
    sysfs();
    kernel.addFile("/sys/class/i2c-dev/bus-9/name", "odd\n");
    std::string message;
    EXPECT_LT(lookup("odd", &message), 0);
    EXPECT_EQ(message, kNoMatch);
}

TEST_F(LookupFixture, TwoAdaptersOfTheSameNameAreNotUnique) {
    sysfs();
    kernel.addFile("/sys/class/i2c-dev/i2c-7/name", "rk3x-i2c\n");
    kernel.addFile("/sys/class/i2c-dev/i2c-8/name", "rk3x-i2c\n");
    std::string message;
    EXPECT_LT(lookup("rk3x-i2c", &message), 0);
    EXPECT_EQ(message, "Error: I2C bus name is not unique!\n");
}

TEST_F(LookupFixture, WithoutProcBusI2cOrASysfsMountNothingMatches) {
    kernel.addFile("/proc/mounts", "proc /proc proc rw 0 0\n");
    std::string message;
    EXPECT_LT(lookup("rk3x-i2c", &message), 0);
    EXPECT_EQ(message, kNoMatch);
}

TEST(ChipAddress, ParsesAnyBaseWithinTheSevenBitRange) {
    EXPECT_EQ(parseChipAddress("0x0c"), 0x0c);
    EXPECT_EQ(parseChipAddress("12"), 12);
    EXPECT_EQ(parseChipAddress("0x03"), 3);
    EXPECT_EQ(parseChipAddress("0x77"), 0x77);
}

TEST(ChipAddress, RejectsTextAndOutOfRangeValuesWithTheirMessages) {
    int result = 0;
    EXPECT_EQ(capturedStderr([&] { result = parseChipAddress("0x0cz"); }),
              "Error: Chip address is not a number!\n");
    EXPECT_EQ(result, -1);
    EXPECT_EQ(capturedStderr([&] { result = parseChipAddress("0x78"); }),
              "Error: Chip address out of range (0x03-0x77)!\n");
    EXPECT_EQ(result, -2);
    EXPECT_EQ(capturedStderr([&] { result = parseChipAddress("2"); }),
              "Error: Chip address out of range (0x03-0x77)!\n");
    EXPECT_EQ(result, -2);
}
