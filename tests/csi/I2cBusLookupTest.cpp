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

struct BusLookup : testing::Test {
    sim::SimKernel kernel;
    std::string message;  // what the last lookup printed
    int lookup(const char* text) {
        int bus = 0;
        message = capturedStderr([&] { bus = lookupI2cBus(kernel, text); });
        return bus;
    }
    void mountSysfs() {
        kernel.addFile("/proc/mounts", "proc /proc proc rw 0 0\nsysfs /sys SysFs rw,nosuid 0 0\n");
    }
};

}  // namespace

TEST_F(BusLookup, NumbersAreBusesWithoutReadingAnythingUpTo0xFFFFF) {
    EXPECT_EQ(lookup("10"), 10);
    EXPECT_EQ(lookup("0x0a"), 10);
    EXPECT_EQ(lookup("012"), 10);
    EXPECT_EQ(lookup("1048575"), 1048575);
    EXPECT_TRUE(kernel.trace().empty());
    EXPECT_LT(lookup("1048576"), 0);
    EXPECT_EQ(message, "Error: I2C bus out of range!\n");
    EXPECT_LT(lookup(""), 0);  // a name that matches nothing
    EXPECT_EQ(message, kNoMatch);
}

TEST_F(BusLookup, NamesFromProcBusI2cWithTrailingBlanksTrimmed) {
    kernel.addFile("/proc/bus/i2c",
                   "i2c-1\ti2c       \tbcm2835 (i2c@7e804000)          \tI2C adapter\n"
                   "too\tfew tabs\n"
                   "i2c-10\ti2c       \ti2c-22-mux (chan_id 1)          \tI2C adapter\n");
    mountSysfs();  // never consulted when /proc/bus/i2c exists
    kernel.addFile("/sys/class/i2c-dev/i2c-7/name", "i2c-22-mux (chan_id 1)\n");
    EXPECT_EQ(lookup("i2c-22-mux (chan_id 1)"), 10);
    EXPECT_EQ(lookup("bcm2835 (i2c@7e804000)"), 1);
    EXPECT_LT(lookup("bcm2835"), 0);  // whole text, exactly
    EXPECT_EQ(message, kNoMatch);
}

TEST_F(BusLookup, NamesFromSysfsFoundThroughProcMountsIgnoringTheTypesCase) {
    mountSysfs();
    kernel.addFile("/sys/class/i2c-dev/i2c-3/name", "rk3x-i2c\n");
    kernel.addFile("/sys/class/i2c-dev/i2c-30/device/name", "i2c-2-mux (chan_id 0)\n");
    kernel.addDirectory("/sys/class/i2c-dev/i2c-31/device/power");
    kernel.addFile("/sys/class/i2c-dev/i2c-31/device/i2c-31/name", "deep adapter\n");
    kernel.addFile("/sys/class/i2c-dev/i2c-4/name", "");
    kernel.addFile("/sys/class/i2c-dev/bus-9/name", "odd\n");
    EXPECT_EQ(lookup("rk3x-i2c"), 3);
    EXPECT_EQ(lookup("i2c-2-mux (chan_id 0)"), 30);
    EXPECT_EQ(lookup("deep adapter"), 31);
    // A name file that reads nothing skips its adapter with a message.
    EXPECT_EQ(message, "/sys/class/i2c-dev/i2c-4/name: read error\n");
    // An entry not named i2c-<number> is skipped.
    EXPECT_LT(lookup("odd"), 0);
    EXPECT_NE(message.find(kNoMatch), std::string::npos);
    kernel.addFile("/sys/class/i2c-dev/i2c-8/name", "rk3x-i2c\n");
    EXPECT_LT(lookup("rk3x-i2c"), 0);
    EXPECT_NE(message.find("Error: I2C bus name is not unique!\n"), std::string::npos);
}

TEST_F(BusLookup, WithoutProcBusI2cOrASysfsMountNothingMatches) {
    kernel.addFile("/proc/mounts", "proc /proc proc rw 0 0\n");
    EXPECT_LT(lookup("rk3x-i2c"), 0);
    EXPECT_EQ(message, kNoMatch);
}

TEST_F(BusLookup, AdaptersNumberedOutsideTheBusRangeAreNoAdapters) {
    // "i2c--1" would give bus -1, which the caller takes for a failure without a message.
    kernel.addFile("/proc/bus/i2c",
                   "i2c--1\ti2c\tevil\tI2C adapter\n"
                   "i2c-1048576\ti2c\tbig\tI2C adapter\n"
                   "i2c-99999999999\ti2c\thuge\tI2C adapter\n"
                   "i2c-1048575\ti2c\tlast\tI2C adapter\n");
    for (const char* name : {"evil", "big", "huge"}) {
        EXPECT_EQ(lookup(name), -1) << name;
        EXPECT_EQ(message, kNoMatch);
    }
    EXPECT_EQ(lookup("last"), 1048575);
    kernel.remove("/proc/bus/i2c");
    mountSysfs();
    kernel.addFile("/sys/class/i2c-dev/i2c--3/name", "evil\n");
    kernel.addFile("/sys/class/i2c-dev/i2c-4294967299/name", "wrapped\n");
    kernel.addFile("/sys/class/i2c-dev/i2c-7/name", "rk3x-i2c\n");
    EXPECT_EQ(lookup("evil"), -1);
    EXPECT_EQ(lookup("wrapped"), -1);
    EXPECT_EQ(message, kNoMatch);
    EXPECT_EQ(lookup("rk3x-i2c"), 7);
}

TEST_F(BusLookup, AnEmptyTextMatchesNoAdapterEvenOneListedWithoutAName) {
    kernel.addFile("/proc/bus/i2c", "i2c-3\ti2c       \t          \tI2C adapter\n");
    EXPECT_EQ(lookup(""), -1);
    EXPECT_EQ(message, kNoMatch);
}

TEST(ChipAddress, ParsesAnyBaseWithinTheSevenBitRangeAndRejectsTheRest) {
    EXPECT_EQ(parseChipAddress("0x0c"), 0x0c);
    EXPECT_EQ(parseChipAddress("12"), 12);
    EXPECT_EQ(parseChipAddress("0x03"), 3);
    EXPECT_EQ(parseChipAddress("0x77"), 0x77);
    const char* kOutOfRange = "Error: Chip address out of range (0x03-0x77)!\n";
    const struct {
        const char* text;
        int result;
        const char* message;
    } rejected[] = {{"0x0cz", -1, "Error: Chip address is not a number!\n"},
                    {"0x78", -2, kOutOfRange},
                    {"2", -2, kOutOfRange}};
    for (const auto& entry : rejected) {
        int result = 0;
        EXPECT_EQ(capturedStderr([&] { result = parseChipAddress(entry.text); }), entry.message);
        EXPECT_EQ(result, entry.result) << entry.text;
    }
}
