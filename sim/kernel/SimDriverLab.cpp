// The simulated test-driver machine: what vivid, vimc and i2c-stub put into /dev and /sys.
#include "sim/kernel/SimDriverLab.h"

#include <linux/i2c.h>
#include <linux/media.h>

#include <cerrno>
#include <string>

#include "sim/kernel/CharacterMajors.h"
#include "sim/kernel/SimI2cAdapter.h"
#include "sim/kernel/SimMediaDevice.h"
#include "sim/kernel/SimSensorChip.h"
#include "sim/kernel/SimSubdevice.h"
#include "sim/kernel/SimVideoNode.h"
#include "sim/scene/Scene.h"

namespace Quarvel {
namespace sim {

namespace {

// What i2c-stub reports for I2C_FUNCS with its default functionality mask.
unsigned long stubFunctionality() {
    // drivers/i2c/i2c-stub.c: I2C_FUNC_SMBUS_QUICK | I2C_FUNC_SMBUS_BYTE_DATA |
    // I2C_FUNC_SMBUS_WORD_DATA | I2C_FUNC_SMBUS_BLOCK_DATA | I2C_FUNC_SMBUS_I2C_BLOCK and
    // the plain byte commands; never I2C_FUNC_I2C.
    return I2C_FUNC_SMBUS_QUICK | I2C_FUNC_SMBUS_BYTE | I2C_FUNC_SMBUS_BYTE_DATA |
           I2C_FUNC_SMBUS_WORD_DATA | I2C_FUNC_SMBUS_BLOCK_DATA | I2C_FUNC_SMBUS_I2C_BLOCK;
}

}  // namespace

std::unique_ptr<SimDriverLab> SimDriverLab::build() {
    std::unique_ptr<SimDriverLab> lab(new SimDriverLab());
    lab->simKernel = std::make_unique<SimKernel>();
    SimKernel& kernel = *lab->simKernel;
    kernel.addFile("/proc/mounts",
                   "rootfs / rootfs rw 0 0\n"
                   "proc /proc proc rw,relatime 0 0\n"
                   "sysfs /sys sysfs rw,relatime 0 0\n"
                   "devtmpfs /dev devtmpfs rw,relatime,size=236k,mode=755 0 0\n");

    // vivid: one capture node per instance, each instance with its own media device. The
    // webcam input offers a few discrete sizes; a format request gets the nearest one.
    for (int instance = 0; instance < 2; ++instance) {
        auto chip = std::make_shared<SimSensorChip>(SimSensor::Vga, Scene::standard(1), 7);
        SimVideoNodeConfig config;
        config.driver = "vivid";
        config.card = "vivid";
        config.multiPlanar = instance == 1;
        config.otherPlanarityError = ENOTTY;
        config.layout = BufferLayout::Y12;
        config.strideAlignment = 1;
        config.mediaController = false;
        config.maxBuffers = 64;
        auto video = std::make_shared<SimVideoNode>(config, chip);
        const std::string number = std::to_string(instance);
        const std::string videoName = "vivid-00" + number + "-vid-cap";
        const std::string platform = "/sys/devices/platform/vivid." + number;
        kernel.addCharDevice("/dev/video" + number, kVideoMajor, static_cast<unsigned>(instance),
                             video);
        const std::string videoNumber = deviceNumber(kVideoMajor, static_cast<unsigned>(instance));
        const std::string sysfs = "/sys/dev/char/" + videoNumber;
        kernel.addSymlink(sysfs,
                          "../../devices/platform/vivid." + number + "/video4linux/video" + number);
        kernel.addFile(sysfs + "/name", videoName + "\n");
        kernel.addFile(sysfs + "/dev", videoNumber + "\n");
        kernel.addDirectory(sysfs + "/device/media" + number);
        kernel.addDirectory(sysfs + "/device/video4linux");

        auto graph = std::make_shared<SimMediaDevice>("vivid");
        graph->addEntity(
            {1, videoName, MEDIA_ENT_F_IO_V4L, 1, kVideoMajor, static_cast<uint32_t>(instance)});
        kernel.addCharDevice("/dev/media" + number, kMediaMajor, static_cast<unsigned>(instance),
                             graph);
    }

    // vimc: sensor, debayer and capture entities; the sensor's subdevice is reachable through
    // its device number.
    auto vimcChip = std::make_shared<SimSensorChip>(SimSensor::Vga, Scene::standard(1), 11);
    auto vimc = std::make_shared<SimMediaDevice>("vimc");
    constexpr unsigned kSubdevMinor = 2;
    vimc->addEntity({1, "Sensor A", MEDIA_ENT_F_CAM_SENSOR, 1, kVideoMajor, kSubdevMinor});
    vimc->addEntity(
        {4, "Debayer A", MEDIA_ENT_F_PROC_VIDEO_PIXEL_ENC_CONV, 2, kVideoMajor, kSubdevMinor + 1});
    vimc->addEntity({7, "Raw Capture 0", MEDIA_ENT_F_IO_V4L, 1, 0, 0});
    vimc->addLink({1, 0, 4, 0, MEDIA_LNK_FL_ENABLED | MEDIA_LNK_FL_IMMUTABLE});
    kernel.addCharDevice("/dev/media2", kMediaMajor, 2, vimc);
    kernel.addCharDevice("/dev/v4l-subdev0", kVideoMajor, kSubdevMinor,
                         std::make_shared<SimSubdevice>(vimcChip));
    kernel.addSymlink("/sys/dev/char/" + deviceNumber(kVideoMajor, kSubdevMinor),
                      "../../devices/platform/vimc.0/video4linux/v4l-subdev0");

    // i2c-stub with i2c-dev on top.
    kernel.addCharDevice("/dev/i2c-0", kI2cMajor, kStubBus,
                         std::make_shared<SimI2cAdapter>(stubFunctionality()));
    kernel.addFile("/sys/class/i2c-dev/i2c-0/name", std::string(kStubName) + "\n");
    kernel.addFile("/sys/class/i2c-dev/i2c-0/dev", deviceNumber(kI2cMajor, kStubBus) + "\n");
    return lab;
}

}  // namespace sim
}  // namespace Quarvel
