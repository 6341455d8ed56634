// The Jetson video node's sysfs name line ("vi-output, quarvel 30-000c"), through the CSI
// transport's open: the bus name taken from it, and nothing kept when it holds none.
#include <fuzzer/FuzzedDataProvider.h>
#include <linux/i2c.h>
#include <linux/videodev2.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/Types.h"
#include "fuzz/support/FuzzCheck.h"
#include "fuzz/support/FuzzedSystem.h"
#include "sensor/QuarvelTOFCSISensor.h"

using namespace Quarvel;
using Kind = fuzz::FuzzedSystem::NodeKind;

namespace {

constexpr size_t kLineLimit = 255;  // characters read from the name file
constexpr size_t kMaxDigits = 7;    // the bus name field holds 7 characters and a NUL

// The bus name the line gives: the digits after the first space at or after "quarvel".
// False when the line does not name the sensor.
bool expectedBusName(const std::string& content, std::string* busName) {
    std::string line = content.substr(0, kLineLimit);
    line.resize(std::char_traits<char>::length(line.c_str()));
    const size_t newline = line.find('\n');
    if (newline != std::string::npos) line.resize(newline + 1);
    size_t at = line.find("quarvel");
    if (at == std::string::npos) return false;
    busName->clear();
    while (at < line.size() && line[at] != ' ' && line[at] != '\n') ++at;
    if (at >= line.size() || line[at] != ' ') return true;
    for (++at; at < line.size() && busName->size() < kMaxDigits &&
               std::isdigit(static_cast<unsigned char>(line[at]));
         ++at) {
        busName->push_back(line[at]);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const int boards[] = {BOARD_JETSON_NANO, BOARD_JETSON, 4};
    const int board = boards[input.ConsumeIntegralInRange(0, 2)];
    const unsigned minor = input.ConsumeIntegralInRange(0, 3);

    std::string line;
    if (input.ConsumeBool()) {
        // The kernel's form with hostile parts: "<prefix>quarvel<middle> <digits><rest>".
        line = input.ConsumeRandomLengthString(40) + "quarvel" +
               input.ConsumeRandomLengthString(12) + " " +
               std::to_string(input.ConsumeIntegral<uint32_t>()) +
               input.ConsumeRandomLengthString(20);
        if (input.ConsumeBool()) line += "\n";
    } else {
        line = input.ConsumeRemainingBytesAsString();
    }

    fuzz::FuzzedSystem system;
    system.addNode("/dev/video0", Kind::Video, 81, minor);
    system.capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    system.frameWidth = 240;
    system.frameHeight = 180;
    system.i2cFunctionality = I2C_FUNC_I2C;
    system.addFile("/sys/dev/char/81:" + std::to_string(minor) + "/name", line);
    std::string expected;
    const bool namesSensor = expectedBusName(line, &expected);
    // Digits are a number in C's notation (a leading 0 is octal); there is no adapter list,
    // so only a bus named by a number can be found.
    char* end = nullptr;
    const unsigned long bus = std::strtoul(expected.c_str(), &end, 0);
    const bool usable = !expected.empty() && *end == '\0' && bus <= 0xFFFFF;
    if (usable) system.addNode("/dev/i2c-" + std::to_string(bus), Kind::I2cBus);

    {
        QuarvelTOFCSISensor sensor(system, "/dev/video0", board);
        CameraInfo info{};
        const int result = sensor.open(info);
        if (!namesSensor) {
            FUZZ_CHECK(result == QuarvelSystemError);
        } else {
            FUZZ_CHECK(std::string(sensor.busName()) == expected);
            if (!usable) {
                FUZZ_CHECK(result == QuarvelSystemError);
            } else {
                FUZZ_CHECK(result == 0);
                FUZZ_CHECK(info.width == 240 && info.height == 180);
            }
        }
        if (result != 0) FUZZ_CHECK(system.openDescriptorCount() == 0);
        FUZZ_CHECK(sensor.close() == 0);
        FUZZ_CHECK(system.openDescriptorCount() == 0);
    }
    return 0;
}
