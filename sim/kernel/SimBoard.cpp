// The simulated boards: what each one's device tree, sysfs, media graph and nodes look like.
#include "sim/kernel/SimBoard.h"

#include <linux/i2c.h>
#include <linux/media.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "sim/kernel/CharacterMajors.h"

namespace Quarvel {
namespace sim {

namespace {

constexpr uint16_t kChipAddress = 0x0C;

struct Adapter {
    int bus;
    std::string name;
};

// What differs from board to board.
struct BoardDescription {
    std::string model;
    BoardModel expected;
    std::string driver;
    std::string videoName;  // the video node's sysfs name
    std::string platformDevice;
    BufferLayout layout;
    uint32_t strideAlignment;
    bool mediaController;  // the transport walks the media graph
    bool multiPlanar;
    int sensorBus;
    std::vector<Adapter> adapters;
    std::string sensorEntity;
    std::string bridgeEntity;  // empty: none
    int bridgePads;
};

BoardDescription describe(BoardKind kind) {
    switch (kind) {
        case BoardKind::RaspberryPi4:
            return {"Raspberry Pi 4 Model B Rev 1.4",
                    BOARD_RASPBERRY_PI,
                    "unicam",
                    "unicam-image",
                    "platform/soc/fe801000.csi",
                    BufferLayout::Y12,
                    64,
                    true,
                    false,
                    10,
                    {{1, "bcm2835 (i2c@7e804000)"},
                     {10, "i2c-22-mux (chan_id 1)"},
                     {22, "bcm2835 (i2c@7e205000)"}},
                    "quarvel-vantorix 10-000c",
                    "",
                    0};
        case BoardKind::RaspberryPi5:
            return {"Raspberry Pi 5 Model B Rev 1.0",
                    BOARD_RASPBERRY_PI_5,
                    "rp1-cfe",
                    "rp1-cfe-csi2_ch0",
                    "platform/axi/1000880000.pcie/1f00128000.csi",
                    BufferLayout::Y12P,
                    16,
                    true,
                    false,
                    4,
                    {{1, "Synopsys DesignWare I2C adapter"},
                     {4, "Synopsys DesignWare I2C adapter"},
                     {11, "107d508200.i2c"}},
                    "quarvel-vantorix 4-000c",
                    "csi2",
                    5};
        case BoardKind::JetsonNano:
        case BoardKind::JetsonTx1:
            return {kind == BoardKind::JetsonNano ? "NVIDIA Jetson Nano Developer Kit"
                                                  : "NVIDIA Jetson TX1",
                    BOARD_JETSON_NANO,
                    "tegra-video",
                    "vi-output, quarvel 6-000c",
                    "platform/host1x/54080000.vi",
                    BufferLayout::Y12,
                    64,
                    false,
                    false,
                    6,
                    {{0, "7000c000.i2c"}, {6, "i2c-0-mux (chan_id 0)"}},
                    "",
                    "",
                    0};
        case BoardKind::JetsonXavierNx:
        case BoardKind::JetsonAgxOrin:
            return {kind == BoardKind::JetsonXavierNx ? "NVIDIA Jetson Xavier NX Developer Kit"
                                                      : "NVIDIA Jetson AGX Orin Developer Kit",
                    BOARD_JETSON,
                    "tegra-video",
                    "vi-output, quarvel 30-000c",
                    "platform/bus@0/15c10000.vi",
                    BufferLayout::Y12MsbAlignedBlocks,
                    64,
                    false,
                    false,
                    30,
                    {{2, "3180000.i2c"}, {30, "i2c-2-mux (chan_id 0)"}},
                    "",
                    "",
                    0};
        case BoardKind::RadxaRock5b:
            return {"Radxa ROCK 5B",
                    BOARD_RADXA_ROCK,
                    "rkcif",
                    "stream_cif_mipi_id0",
                    "platform/fdce0000.rkcif-mipi-lvds",
                    BufferLayout::Y12,
                    16,
                    true,
                    true,
                    7,
                    {{7, "rk3x-i2c"}, {8, "rk3x-i2c"}},
                    "m00_b_quarvel-vantorix 7-000c",
                    "rockchip-csi2-dphy1",
                    2};
    }
    return {};
}

}  // namespace

SimBoardBuilder SimBoard::raspberryPi4() { return SimBoardBuilder(BoardKind::RaspberryPi4); }
SimBoardBuilder SimBoard::raspberryPi5() { return SimBoardBuilder(BoardKind::RaspberryPi5); }
SimBoardBuilder SimBoard::jetsonNano() { return SimBoardBuilder(BoardKind::JetsonNano); }
SimBoardBuilder SimBoard::jetsonTx1() { return SimBoardBuilder(BoardKind::JetsonTx1); }
SimBoardBuilder SimBoard::jetsonXavierNx() { return SimBoardBuilder(BoardKind::JetsonXavierNx); }
SimBoardBuilder SimBoard::jetsonAgxOrin() { return SimBoardBuilder(BoardKind::JetsonAgxOrin); }
SimBoardBuilder SimBoard::radxaRock5b() { return SimBoardBuilder(BoardKind::RadxaRock5b); }
SimBoardBuilder SimBoard::of(BoardKind kind) { return SimBoardBuilder(kind); }

std::vector<BoardKind> SimBoard::allKinds() {
    return {BoardKind::RaspberryPi4, BoardKind::RaspberryPi5,   BoardKind::JetsonNano,
            BoardKind::JetsonTx1,    BoardKind::JetsonXavierNx, BoardKind::JetsonAgxOrin,
            BoardKind::RadxaRock5b};
}

const char* SimBoard::nameOf(BoardKind kind) {
    switch (kind) {
        case BoardKind::RaspberryPi4:
            return "pi4";
        case BoardKind::RaspberryPi5:
            return "pi5";
        case BoardKind::JetsonNano:
            return "nano";
        case BoardKind::JetsonTx1:
            return "tx1";
        case BoardKind::JetsonXavierNx:
            return "xavier";
        case BoardKind::JetsonAgxOrin:
            return "orin";
        case BoardKind::RadxaRock5b:
            return "rock";
    }
    return "?";
}

bool SimBoard::named(const std::string& name, BoardKind* kind) {
    if (name == "pi") {
        *kind = BoardKind::RaspberryPi4;
        return true;
    }
    for (BoardKind candidate : allKinds()) {
        if (name == nameOf(candidate)) {
            *kind = candidate;
            return true;
        }
    }
    return false;
}

std::vector<SimFault> SimBoard::allFaults() {
    return {SimFault::NoVideoNode, SimFault::ForeignNode, SimFault::VideoDenied,
            SimFault::I2cDenied,   SimFault::NoI2cDev,    SimFault::MediaLink,
            SimFault::NoI2cBus};
}

const char* SimBoard::nameOf(SimFault fault) {
    switch (fault) {
        case SimFault::NoVideoNode:
            return "no-video-node";
        case SimFault::ForeignNode:
            return "foreign-node";
        case SimFault::VideoDenied:
            return "video-denied";
        case SimFault::I2cDenied:
            return "i2c-denied";
        case SimFault::NoI2cDev:
            return "no-i2c-dev";
        case SimFault::MediaLink:
            return "media-link";
        case SimFault::NoI2cBus:
            return "no-i2c-bus";
    }
    return "?";
}

bool SimBoard::faultNamed(const std::string& name, SimFault* fault) {
    for (SimFault candidate : allFaults()) {
        if (name == nameOf(candidate)) {
            *fault = candidate;
            return true;
        }
    }
    return false;
}

BoardModel SimBoard::expectedModel() const { return describe(boardKind).expected; }

SimBoardBuilder::SimBoardBuilder(BoardKind kind)
    : boardKind(kind), functionality(I2C_FUNC_I2C | I2C_FUNC_SMBUS_EMUL) {}

SimBoardBuilder& SimBoardBuilder::sensor(SimSensor kind) {
    sensorKind = kind;
    return *this;
}
SimBoardBuilder& SimBoardBuilder::scene(const Scene& value) {
    sceneModel = value;
    return *this;
}
SimBoardBuilder& SimBoardBuilder::noiseSeed(uint64_t value) {
    seed = value;
    return *this;
}
SimBoardBuilder& SimBoardBuilder::paced(bool value) {
    pacedStream = value;
    return *this;
}
SimBoardBuilder& SimBoardBuilder::withProcBusI2c() {
    procBusI2c = true;
    return *this;
}
SimBoardBuilder& SimBoardBuilder::maxBuffers(uint32_t count) {
    bufferLimit = count;
    return *this;
}
SimBoardBuilder& SimBoardBuilder::extraBufferBytes(uint32_t bytes) {
    extraBytes = bytes;
    return *this;
}
SimBoardBuilder& SimBoardBuilder::mediaEntries(const std::vector<std::string>& names,
                                               const std::string& cameraMedia) {
    mediaNames = names;
    cameraMediaName = cameraMedia;
    return *this;
}
SimBoardBuilder& SimBoardBuilder::sensorEntityName(const std::string& name) {
    sensorName = name;
    return *this;
}
SimBoardBuilder& SimBoardBuilder::sensorBeforeBridge() {
    sensorFirst = true;
    return *this;
}
SimBoardBuilder& SimBoardBuilder::extraBridges(int count) {
    moreBridges = count;
    return *this;
}
SimBoardBuilder& SimBoardBuilder::multiPlanarNode() {
    multiPlanarOnly = true;
    return *this;
}
SimBoardBuilder& SimBoardBuilder::jetsonNodeName(const std::string& line) {
    jetsonName = line;
    return *this;
}
SimBoardBuilder& SimBoardBuilder::i2cFunctionality(unsigned long funcs) {
    functionality = funcs;
    return *this;
}
SimBoardBuilder& SimBoardBuilder::modelText(const std::string& text) {
    model = text;
    return *this;
}
SimBoardBuilder& SimBoardBuilder::fault(SimFault value) {
    faults.push_back(value);
    return *this;
}
bool SimBoardBuilder::has(SimFault value) const {
    return std::find(faults.begin(), faults.end(), value) != faults.end();
}

std::unique_ptr<SimBoard> SimBoardBuilder::build() const {
    const BoardDescription board = describe(boardKind);
    std::unique_ptr<SimBoard> result(new SimBoard());
    result->boardKind = boardKind;
    result->busNumber = board.sensorBus;
    result->simKernel = std::make_unique<SimKernel>();
    SimKernel& kernel = *result->simKernel;

    // Device tree text ends with a NUL.
    kernel.addFile("/sys/firmware/devicetree/base/model",
                   (model.empty() ? board.model : model) + std::string(1, '\0'));
    kernel.addFile("/proc/mounts",
                   "sysfs /sys sysfs rw,nosuid,nodev,noexec,relatime 0 0\n"
                   "proc /proc proc rw,relatime 0 0\n"
                   "udev /dev devtmpfs rw,nosuid,relatime,size=1933260k,mode=755 0 0\n");
    kernel.addFile("/etc/group", "root:x:0:\nvideo:x:" + std::to_string(kVideoGroupId) +
                                     ":pi\ni2c:x:" + std::to_string(kI2cGroupId) + ":pi\n");

    auto chip = std::make_shared<SimSensorChip>(sensorKind, sceneModel, seed);
    result->sensorChip = chip;

    // I2C adapters, the sensor chip on its bus.
    std::string procLines;
    for (const Adapter& adapter : board.adapters) {
        if (adapter.bus == board.sensorBus && has(SimFault::NoI2cBus)) continue;
        auto device = std::make_shared<SimI2cAdapter>(functionality);
        if (adapter.bus == board.sensorBus) {
            device->attach(kChipAddress, chip);
            result->sensorAdapter = device;
        }
        const std::string node = "i2c-" + std::to_string(adapter.bus);
        // The adapter itself is on the bus whether or not i2c-dev gives it a node.
        kernel.addFile("/sys/bus/i2c/devices/" + node + "/name", adapter.name + "\n");
        if (!has(SimFault::NoI2cDev)) {
            kernel.addCharDevice("/dev/" + node, kI2cMajor, static_cast<unsigned>(adapter.bus),
                                 device);
            kernel.setGroup("/dev/" + node, kI2cGroupId);
            if (adapter.bus == board.sensorBus && has(SimFault::I2cDenied)) {
                kernel.denyAccess("/dev/" + node);
            }
            kernel.addFile("/sys/class/i2c-dev/" + node + "/name", adapter.name + "\n");
            kernel.addFile("/sys/class/i2c-dev/" + node + "/dev",
                           deviceNumber(kI2cMajor, static_cast<unsigned>(adapter.bus)) + "\n");
        }
        char line[128];
        std::snprintf(line, sizeof line, "%s\t%-10s\t%-32s\t%s\n", node.c_str(), "i2c",
                      adapter.name.c_str(), "I2C adapter");
        procLines += line;
    }
    if (procBusI2c) kernel.addFile("/proc/bus/i2c", procLines);

    // The video node.
    SimVideoNodeConfig config;
    config.driver = board.driver;
    config.card = board.videoName;
    config.multiPlanar = board.multiPlanar || multiPlanarOnly;
    config.layout = board.layout;
    config.strideAlignment = board.strideAlignment;
    config.mediaController = board.mediaController;
    config.maxBuffers = bufferLimit;
    config.extraBufferBytes = extraBytes;
    config.paced = pacedStream;
    auto video = std::make_shared<SimVideoNode>(config, chip);
    result->videoNode = video;
    // Another sensor on the port: the same receiver, a sensor that is not ours.
    const bool foreign = has(SimFault::ForeignNode);
    const std::string foreignBus = std::to_string(board.sensorBus);
    if (!has(SimFault::NoVideoNode)) {
        kernel.addCharDevice("/dev/video0", kVideoMajor, 0, video);
        kernel.setGroup("/dev/video0", kVideoGroupId);
        if (has(SimFault::VideoDenied)) kernel.denyAccess("/dev/video0");
    }
    const std::string videoSysfs = "/sys/dev/char/" + deviceNumber(kVideoMajor, 0);
    kernel.addSymlink(videoSysfs, "../../devices/" + board.platformDevice + "/video4linux/video0");
    const std::string nameLine = foreign && !board.mediaController
                                     ? "vi-output, imx219 " + foreignBus + "-0010"
                                     : (jetsonName.empty() ? board.videoName : jetsonName);
    kernel.addFile(videoSysfs + "/name", nameLine + "\n");
    kernel.addFile(videoSysfs + "/dev", deviceNumber(kVideoMajor, 0) + "\n");
    // The capture device's directory: the media node sits among its other entries.
    const std::string deviceDirectory = videoSysfs + "/device";
    kernel.addFile(deviceDirectory + "/driver_override", "(null)\n");
    kernel.addFile(deviceDirectory + "/modalias", "of:N" + board.driver + "\n");
    for (const std::string& media : mediaNames) kernel.addDirectory(deviceDirectory + "/" + media);
    kernel.addDirectory(deviceDirectory + "/video4linux");
    kernel.addFile(deviceDirectory + "/uevent", "DRIVER=" + board.driver + "\n");
    kernel.addDirectory(deviceDirectory + "/power");

    if (!board.mediaController) return result;

    // The media graph, its node listed first among the media entries.
    auto media = std::make_shared<SimMediaDevice>(board.driver);
    result->mediaDevice = media;
    unsigned mediaMinor = 0;
    for (const std::string& name : mediaNames) {
        if (name == cameraMediaName) {
            kernel.addCharDevice("/dev/" + name, kMediaMajor, mediaMinor++, media);
            kernel.setGroup("/dev/" + name, kVideoGroupId);
        } else {
            kernel.addCharDevice("/dev/" + name, kMediaMajor, mediaMinor++,
                                 std::make_shared<SimMediaDevice>("other"));
        }
    }

    unsigned nextSubdevMinor = 2;
    int nextSubdevNumber = 0;
    auto addSubdevNode = [&](std::shared_ptr<SimSubdevice> device) {
        const unsigned minor = nextSubdevMinor++;
        const std::string node = "v4l-subdev" + std::to_string(nextSubdevNumber++);
        kernel.addCharDevice("/dev/" + node, kVideoMajor, minor, std::move(device));
        kernel.setGroup("/dev/" + node, kVideoGroupId);
        kernel.addSymlink("/sys/dev/char/" + deviceNumber(kVideoMajor, minor),
                          "../../devices/" + board.platformDevice + "/video4linux/" + node);
        return minor;
    };

    const std::string sensorEntity = foreign ? "imx219 " + foreignBus + "-0010"
                                             : (sensorName.empty() ? board.sensorEntity : sensorName);
    auto sensorSubdev = std::make_shared<SimSubdevice>(chip);
    result->sensorSubdev = sensorSubdev;
    uint32_t id = 1;
    uint32_t sensorId = 0;
    uint32_t bridgeId = 0;
    auto addSensor = [&]() {
        sensorId = id;
        media->addEntity({id++, sensorEntity, MEDIA_ENT_F_CAM_SENSOR, 1, kVideoMajor,
                          addSubdevNode(sensorSubdev)});
    };
    auto addBridges = [&]() {
        if (board.bridgeEntity.empty()) return;
        auto bridge = std::make_shared<SimSubdevice>(board.bridgePads);
        result->bridgeSubdev = bridge;
        bridgeId = id;
        media->addEntity({id++, board.bridgeEntity, MEDIA_ENT_F_VID_IF_BRIDGE,
                          static_cast<uint16_t>(board.bridgePads), kVideoMajor,
                          addSubdevNode(bridge)});
        for (int extra = 0; extra < moreBridges; ++extra) {
            media->addEntity({id++, board.bridgeEntity, MEDIA_ENT_F_VID_IF_BRIDGE,
                              static_cast<uint16_t>(board.bridgePads), kVideoMajor,
                              addSubdevNode(std::make_shared<SimSubdevice>(board.bridgePads))});
        }
    };
    if (sensorFirst) {
        addSensor();
        addBridges();
    } else {
        addBridges();
    }
    // Entities of the capture side that the transport passes over.
    const uint32_t videoId = id;
    media->addEntity({id++, board.videoName, MEDIA_ENT_F_IO_V4L, 1, kVideoMajor, 0});
    if (boardKind == BoardKind::RaspberryPi5) {
        media->addEntity({id++, "pisp-fe", MEDIA_ENT_F_PROC_VIDEO_ISP, 7, 0, 0});
        media->addEntity({id++, "rp1-cfe-csi2_ch1", MEDIA_ENT_F_IO_V4L, 1, kVideoMajor, 1});
        media->addEntity({id++, "rp1-cfe-fe_image0", MEDIA_ENT_F_IO_V4L, 1, 0, 0});
    } else if (boardKind == BoardKind::RaspberryPi4) {
        media->addEntity({id++, "unicam-embedded", MEDIA_ENT_F_IO_V4L, 1, kVideoMajor, 1});
    } else {
        media->addEntity({id++, "rockchip-mipi-csi2", MEDIA_ENT_F_VID_IF_BRIDGE, 5, 0, 0});
    }
    if (!sensorFirst) addSensor();

    // Links: sensor into the bridge (or the receiver), bridge source pads onwards. A broken
    // overlay leaves the sensor's link disabled, or on a Pi 5 the receiver's link absent.
    const bool brokenLink = has(SimFault::MediaLink);
    const bool pi5 = boardKind == BoardKind::RaspberryPi5;
    const uint32_t sensorLinkFlags = brokenLink && !pi5
                                         ? 0u
                                         : static_cast<uint32_t>(MEDIA_LNK_FL_ENABLED |
                                                                 MEDIA_LNK_FL_IMMUTABLE);
    if (bridgeId != 0) {
        media->addLink({sensorId, 0, bridgeId, 0, sensorLinkFlags});
        if (pi5) {
            if (!brokenLink) media->addLink({bridgeId, 4, videoId, 0, 0});
            media->addLink({bridgeId, 1, media->idOf("pisp-fe"), 0, MEDIA_LNK_FL_ENABLED});
        } else {
            media->addLink({bridgeId, 1, videoId, 0, MEDIA_LNK_FL_ENABLED});
        }
    } else {
        media->addLink({sensorId, 0, videoId, 0, sensorLinkFlags});
    }

    // Stream-on checks the links and the bridge's format along the pipeline.
    std::weak_ptr<SimMediaDevice> graph = media;
    std::weak_ptr<SimSubdevice> bridgeNode = result->bridgeSubdev;
    std::weak_ptr<SimSensorChip> sensorChip = chip;
    const BoardKind kind = boardKind;
    const std::string bridgeName = board.bridgeEntity;
    const std::string videoName = board.videoName;
    const std::string sensorSink = bridgeId != 0 ? bridgeName : videoName;
    video->validatePipeline = [graph, bridgeNode, sensorChip, kind, bridgeName, videoName,
                               sensorEntity, sensorSink]() {
        auto mediaGraph = graph.lock();
        auto sensorNode = sensorChip.lock();
        if (!mediaGraph || !sensorNode) return -EPIPE;
        if (!mediaGraph->linkEnabled(sensorEntity, 0, sensorSink, 0)) return -EPIPE;
        if (kind == BoardKind::RaspberryPi5 &&
            !mediaGraph->linkEnabled(bridgeName, 4, videoName, 0)) {
            return -EPIPE;
        }
        if (auto bridge = bridgeNode.lock()) {
            const v4l2_mbus_framefmt format = bridge->padFormat(0);
            const FrameSize size = sensorNode->activeSize();
            if (format.width != size.width || format.height != size.height) return -EPIPE;
        }
        return 0;
    };
    return result;
}

}  // namespace sim
}  // namespace Quarvel
