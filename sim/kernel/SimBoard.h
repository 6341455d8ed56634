// Simulated boards: a camera pipeline per board kind, put together with a readable builder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/Types.h"
#include "sim/kernel/SimI2cAdapter.h"
#include "sim/kernel/SimKernel.h"
#include "sim/kernel/SimMediaDevice.h"
#include "sim/kernel/SimSensorChip.h"
#include "sim/kernel/SimSubdevice.h"
#include "sim/kernel/SimVideoNode.h"
#include "sim/scene/Scene.h"

namespace Quarvel {
namespace sim {

enum class BoardKind {
    RaspberryPi4,
    RaspberryPi5,
    JetsonNano,
    JetsonTx1,
    JetsonXavierNx,
    JetsonAgxOrin,
    RadxaRock5b
};

class SimBoardBuilder;

// A fault of the board's set-up as users meet them, each behaving as the real kernel does.
enum class SimFault {
    NoVideoNode,  // the capture driver made no /dev/video0 (camera not detected)
    ForeignNode,  // /dev/video0 belongs to another sensor (its entity or sysfs name)
    VideoDenied,  // /dev/video0 refuses to open (EACCES); owner group "video"
    I2cDenied,    // the sensor's /dev/i2c-N refuses to open (EACCES); owner group "i2c"
    NoI2cDev,     // i2c-dev not loaded: adapters exist, no /dev/i2c-* nor /sys/class/i2c-dev
    MediaLink,    // the sensor's media link is missing (Pi 5) or disabled (other graphs)
    NoI2cBus      // the sensor's I2C adapter is absent (its mux or controller not probed)
};

// Group ids the simulated /etc/group lists; device nodes belong to them.
constexpr unsigned kVideoGroupId = 44;
constexpr unsigned kI2cGroupId = 998;

// One simulated board with the camera attached at /dev/video0: device tree, sysfs, /proc,
// media graph, subdevices, video node and I2C adapters, all inside its own SimKernel.
//
//   auto board = SimBoard::raspberryPi5().sensor(SimSensor::Hqvga).build();
//   QuarvelTOFCamera camera(SeamComponents(board->kernel()));
class SimBoard {
public:
    static SimBoardBuilder raspberryPi4();
    static SimBoardBuilder raspberryPi5();
    static SimBoardBuilder jetsonNano();
    static SimBoardBuilder jetsonTx1();
    static SimBoardBuilder jetsonXavierNx();
    static SimBoardBuilder jetsonAgxOrin();
    static SimBoardBuilder radxaRock5b();
    static SimBoardBuilder of(BoardKind kind);
    // "pi" (or "pi4"), "pi5", "nano", "tx1", "xavier", "orin", "rock"; false for others.
    static bool named(const std::string& name, BoardKind* kind);
    static std::vector<BoardKind> allKinds();
    static const char* nameOf(BoardKind kind);
    // "no-video-node", "foreign-node", "video-denied", "i2c-denied", "no-i2c-dev",
    // "media-link", "no-i2c-bus"; false for others.
    static bool faultNamed(const std::string& name, SimFault* fault);
    static std::vector<SimFault> allFaults();
    static const char* nameOf(SimFault fault);

    SimKernel& kernel() { return *simKernel; }
    SimSensorChip& chip() { return *sensorChip; }
    SimVideoNode& video() { return *videoNode; }
    SimI2cAdapter& sensorBus() { return *sensorAdapter; }
    // Null on boards whose transport does not walk a media graph (Jetson).
    SimMediaDevice* media() { return mediaDevice.get(); }
    SimSubdevice* sensorSubdevice() { return sensorSubdev.get(); }
    SimSubdevice* bridge() { return bridgeSubdev.get(); }

    BoardKind kind() const { return boardKind; }
    // The board model the device-tree probe must find.
    BoardModel expectedModel() const;
    int sensorBusNumber() const { return busNumber; }
    const std::string& videoPath() const { return videoNodePath; }

private:
    friend class SimBoardBuilder;
    SimBoard() = default;

    BoardKind boardKind = BoardKind::RaspberryPi4;
    int busNumber = 0;
    std::string videoNodePath = "/dev/video0";
    std::unique_ptr<SimKernel> simKernel;
    std::shared_ptr<SimSensorChip> sensorChip;
    std::shared_ptr<SimVideoNode> videoNode;
    std::shared_ptr<SimI2cAdapter> sensorAdapter;
    std::shared_ptr<SimMediaDevice> mediaDevice;
    std::shared_ptr<SimSubdevice> sensorSubdev;
    std::shared_ptr<SimSubdevice> bridgeSubdev;
};

class SimBoardBuilder {
public:
    explicit SimBoardBuilder(BoardKind kind);

    SimBoardBuilder& sensor(SimSensor kind);
    SimBoardBuilder& scene(const Scene& scene);
    SimBoardBuilder& noiseSeed(uint64_t seed);
    // Real-time sub-frames (the default) or sub-frames ready at once.
    SimBoardBuilder& paced(bool paced);
    // Also list the adapters in the legacy /proc/bus/i2c.
    SimBoardBuilder& withProcBusI2c();
    SimBoardBuilder& maxBuffers(uint32_t count);
    SimBoardBuilder& extraBufferBytes(uint32_t bytes);
    // The media nodes listed in the video node's device directory, in listing order
    // (default {"media0"}); each has a /dev node, and the camera's graph is on `cameraMedia`
    // (the others hold an unrelated, empty graph).
    SimBoardBuilder& mediaEntries(const std::vector<std::string>& names,
                                  const std::string& cameraMedia);
    SimBoardBuilder& sensorEntityName(const std::string& name);
    // The sensor entity comes before the bridge in the media graph.
    SimBoardBuilder& sensorBeforeBridge();
    // More bridge entities of the same name ahead of the sensor.
    SimBoardBuilder& extraBridges(int count);
    // The video node offers only multi-planar capture.
    SimBoardBuilder& multiPlanarNode();
    // The first line of the Jetson video node's sysfs name file.
    SimBoardBuilder& jetsonNodeName(const std::string& line);
    SimBoardBuilder& i2cFunctionality(unsigned long funcs);
    SimBoardBuilder& modelText(const std::string& text);
    SimBoardBuilder& fault(SimFault fault);

    std::unique_ptr<SimBoard> build() const;

private:
    BoardKind boardKind;
    SimSensor sensorKind = SimSensor::Hqvga;
    Scene sceneModel = Scene::standard(1);
    uint64_t seed = 1;
    bool pacedStream = true;
    bool procBusI2c = false;
    uint32_t bufferLimit = 8;
    uint32_t extraBytes = 0;
    std::vector<std::string> mediaNames{"media0"};
    std::string cameraMediaName = "media0";
    std::string sensorName;
    bool sensorFirst = false;
    int moreBridges = 0;
    bool multiPlanarOnly = false;
    std::string jetsonName;
    unsigned long functionality;
    std::string model;
    std::vector<SimFault> faults;
    bool has(SimFault fault) const;
};

}  // namespace sim
}  // namespace Quarvel
