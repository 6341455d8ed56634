// The media-graph walk of Raspberry Pi and Radxa boards over hostile entity names, device
// directories and subdevice links, through the CSI transport's open and close.
#include <fuzzer/FuzzedDataProvider.h>
#include <linux/i2c.h>
#include <linux/videodev2.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/Types.h"
#include "fuzz/support/FuzzCheck.h"
#include "fuzz/support/FuzzedSystem.h"
#include "sensor/QuarvelTOFCSISensor.h"

using namespace Quarvel;
using Kind = fuzz::FuzzedSystem::NodeKind;

namespace {

constexpr unsigned kVideoMajor = 81;

// Names the walk looks for, the names real boards have, and pieces of them.
const char* const kNamePieces[] = {
    "csi2",
    "rp1-cfe-csi2_ch0",
    "rockchip-csi2-dphy1",
    "quarvel-vantorix",
    "vantorix",
    " ",
    "10-000c",
    "-",
    "4",
    "rp1-cfe-fe_image0",
    "imx219 10-0010",
    "rkisp-isp-subdev",
};

std::string entityName(FuzzedDataProvider& input) {
    std::string name;
    const int pieces = input.ConsumeIntegralInRange(0, 5);
    for (int i = 0; i < pieces; ++i) {
        if (input.ConsumeBool()) {
            name += kNamePieces[input.ConsumeIntegralInRange<size_t>(
                0, sizeof kNamePieces / sizeof kNamePieces[0] - 1)];
        } else {
            name += input.ConsumeRandomLengthString(12);
        }
    }
    return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const int boards[] = {BOARD_RASPBERRY_PI, BOARD_RASPBERRY_PI_5, BOARD_RADXA_ROCK};
    const int board = boards[input.ConsumeIntegralInRange(0, 2)];

    fuzz::FuzzedSystem system;
    const unsigned videoMinor = input.ConsumeIntegralInRange(0, 3);
    system.addNode("/dev/video0", Kind::Video, kVideoMajor, videoMinor);
    system.capabilities = input.ConsumeBool() ? V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING
                                              : input.ConsumeIntegral<uint32_t>();
    system.frameWidth = input.ConsumeIntegral<uint32_t>();
    system.frameHeight = input.ConsumeIntegral<uint32_t>();
    system.i2cFunctionality =
        input.ConsumeBool() ? I2C_FUNC_I2C : input.ConsumeIntegral<unsigned long>();
    system.linkSetupFails = input.ConsumeIntegralInRange(0, 7) == 0;

    // The video node's device directory: media nodes and anything else.
    std::vector<std::string> entries = {".", ".."};
    const int entryCount = input.ConsumeIntegralInRange(0, 6);
    for (int i = 0; i < entryCount; ++i) {
        std::string entry =
            input.ConsumeBool() ? "media" + std::to_string(i) : input.ConsumeRandomLengthString(90);
        entry.resize(std::char_traits<char>::length(entry.c_str()));
        if (entry.find('/') != std::string::npos) continue;  // sysfs names hold no slash
        entries.push_back(entry);
        if (input.ConsumeBool()) system.addNode("/dev/" + entry, Kind::Media);
    }
    system.addDirectory("/sys/dev/char/81:" + std::to_string(videoMinor) + "/device", entries);

    // Entities with their subdevice links and nodes.
    std::vector<std::string> names;
    const int entityCount = input.ConsumeIntegralInRange(0, 10);
    for (int i = 0; i < entityCount; ++i) {
        fuzz::FuzzedSystem::Entity entity;
        entity.id = input.ConsumeIntegralInRange<uint32_t>(1, 64);
        const std::string name = entityName(input);
        // All 32 bytes may be used: the kernel's name need not be terminated here.
        std::memcpy(entity.name, name.data(), std::min(name.size(), sizeof entity.name));
        names.emplace_back(entity.name, strnlen(entity.name, sizeof entity.name));
        entity.major = input.ConsumeIntegralInRange(0, 2) + 80;
        entity.minor = input.ConsumeIntegralInRange(0, 7);
        system.addEntity(entity);
        const std::string link =
            "/sys/dev/char/" + std::to_string(entity.major) + ":" + std::to_string(entity.minor);
        const std::string subdev = "v4l-subdev" + std::to_string(entity.minor);
        switch (input.ConsumeIntegralInRange(0, 3)) {
            case 0:
                system.addLink(link, "../../devices/platform/axi/csi/video4linux/" + subdev);
                system.addNode("/dev/" + subdev, Kind::Subdevice);
                break;
            case 1:
                system.addLink(link, input.ConsumeRandomLengthString(300));
                break;
            case 2:
                system.addLink(link, "../" + subdev);  // a node that does not exist
                break;
            default:
                break;
        }
    }
    // Adapters named like buses, and the nodes of small bus numbers.
    system.addFile("/proc/bus/i2c", input.ConsumeRandomLengthString(200));
    for (int bus = 0; bus < 12; ++bus) {
        system.addNode("/dev/i2c-" + std::to_string(bus), Kind::I2cBus);
    }

    {
        QuarvelTOFCSISensor sensor(system, "/dev/video0", board);
        CameraInfo info{};
        const int result = sensor.open(info);
        FUZZ_CHECK(result == 0 || result == QuarvelSystemError);

        const char* bus = sensor.busName();
        const size_t busLength = strnlen(bus, 8);
        FUZZ_CHECK(busLength < 8);
        FUZZ_CHECK(std::memchr(bus, '-', busLength) == nullptr);
        FUZZ_CHECK(strnlen(sensor.mediaNodePath(), 80) < 80);
        FUZZ_CHECK(sensor.subdeviceCount() >= 0 &&
                   sensor.subdeviceCount() <= QuarvelTOFCSISensor::kMaxSubdevices);
        if (result == 0) {
            // The bus came from the text after a space in a sensor entity's name.
            bool fromAnEntity = false;
            for (const std::string& name : names) {
                const size_t space = name.find(' ');
                if (space == std::string::npos) continue;
                fromAnEntity |= name.compare(space + 1, busLength, bus) == 0;
            }
            FUZZ_CHECK(busLength > 0 && fromAnEntity);
            FUZZ_CHECK(sensor.sensorSubdeviceIndex() < sensor.subdeviceCount());
            FUZZ_CHECK(info.width == system.frameWidth && info.height == system.frameHeight);
            FUZZ_CHECK(sensor.streamBufferType() == (board == BOARD_RADXA_ROCK ? 9u : 1u));
        } else {
            FUZZ_CHECK(system.openDescriptorCount() == 0);  // a failed open keeps nothing
        }
        for (const std::string& path : system.openedPaths()) {
            FUZZ_CHECK(path.compare(0, 5, "/dev/") == 0);
        }
        FUZZ_CHECK(sensor.close() == 0);
        FUZZ_CHECK(system.openDescriptorCount() == 0);
        FUZZ_CHECK(sensor.close() == 0);
    }
    FUZZ_CHECK(system.openDescriptorCount() == 0);
    return 0;
}
