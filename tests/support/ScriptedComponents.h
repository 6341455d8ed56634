// Scripted sensor and device for driving the camera in tests, with a shared call log.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/ComponentFactory.h"
#include "core/QuarvelTOFCamera.h"
#include "tests/support/Waits.h"

namespace Quarvel {
namespace support {

// Every call of every scripted component, in order ("sensor1.open", "device1.start", ...).
class CallLog {
public:
    void add(const std::string& entry);
    std::vector<std::string> entries() const;
    // Entries matching a prefix, in order.
    std::vector<std::string> only(const std::string& prefix) const;
    void clear();

private:
    mutable std::mutex entriesMutex;  // guards log
    std::vector<std::string> log;
};

// A sensor whose results are set by the test. getFrame writes one 16-bit sample value per
// frame (the frame number, counting from 1) at the start of every sub-frame.
class ScriptedSensor : public QuarvelTOFSensor {
public:
    ScriptedSensor(std::string name, CallLog& log);
    ~ScriptedSensor() override;

    int open(CameraInfo& info) override;
    int close() override;
    int start() override;
    int stop() override;
    CameraInfo getCameraInfo() override;
    int getFrame(uint8_t* dst, uint64_t* timestamp) override;
    int setControl(CameraCtrl ctrl, int value) override;
    int getControl(CameraCtrl ctrl, int* value) override;

    // Script.
    uint32_t width = 240;
    uint32_t height = 180;
    Connection connect = Connection::USB;
    int openResult = 0;
    int startResult = 0;
    int stopResult = 0;
    int closeResult = 0;
    std::chrono::microseconds frameDelay{1000};
    // Results of successive getFrame calls; when empty, every frame succeeds.
    std::deque<int> frameResults;
    // Timestamp for frame n (counting from 1); default n * 33.
    std::function<uint64_t(uint64_t)> timestampOf = [](uint64_t n) { return n * 33; };
    bool writeTimestamp = true;
    // Replaces the default frame content: (dst, bytes, frame number).
    std::function<void(uint8_t*, size_t, uint64_t)> fillFrame;
    // Called as each read begins, with the number its frame will have; may block.
    std::function<void(uint64_t)> beforeRead;

    // Observations.
    std::map<int, int> controls;  // last value set per control
    std::atomic<uint64_t> framesRead{0};
    std::atomic<int> openCount{0};
    std::atomic<int> closeCount{0};
    bool* destroyedFlag = nullptr;
    CameraInfo stored{};

private:
    std::string name;
    CallLog& log;
    std::mutex scriptMutex;  // guards frameResults and controls
};

// A device whose results are set by the test. getPhaseImage writes the frame number read
// from the cache into every pixel of depth, amplitude and confidence.
class ScriptedDevice : public QuarvelDevice {
public:
    ScriptedDevice(std::string name, CallLog& log, int board);
    ~ScriptedDevice() override;

    int getDeviceType() override { return type; }
    int getFrameFormats(FrameLayout* raw, FrameLayout* output) override;
    int open(QuarvelTOFSensor* sensor) override;
    int close() override;
    int prepare() override;
    int start() override;
    int stop() override;
    int setControl(CameraCtrl ctrl, int value) override;
    int setControlExt(CameraCtrl ctrl, const char* value) override;
    int getControl(CameraCtrl ctrl, int* value) override;
    int getControlExt(CameraCtrl ctrl, const char** value) override;
    bool getRawImages(const uint8_t* raw, int16_t* rawPlane) override;
    bool getPhaseImage(const uint8_t* raw, float* depth, float* amplitude,
                       float* confidence) override;
    // A copy of setCalls taken under its lock. Thread-safe.
    std::vector<std::pair<CameraCtrl, int>> setCallsSoFar();
    // How many threads have made control calls so far. Thread-safe.
    size_t controlThreadCount();

    // Script.
    int type = HQVGA;
    FrameLayout rawLayout{2, 240, 720};
    FrameLayout outputLayout{2, 240, 180};
    int openResult = 0;
    int prepareResult = 0;
    int startResult = 0;
    int frameRate = 30;         // answered to getControl(FRAME_RATE)
    int frameRateResult = 0;    // status of getControl(FRAME_RATE)
    int setControlResult = 0;
    bool phaseResult = true;

    // Observations. setCalls grows on the capture thread while a stream runs: read it
    // there through setCallsSoFar().
    std::vector<std::pair<CameraCtrl, int>> setCalls;
    std::atomic<int> phaseCalls{0};
    std::atomic<int> controlCalls{0};
    std::set<std::thread::id> controlThreads;  // threads that made control calls
    // Set when two control calls were inside the device at the same time.
    std::atomic<bool> controlCallsOverlapped{false};
    bool* destroyedFlag = nullptr;

private:
    // Marks a control call as inside the device for its whole duration.
    class ControlCallScope {
    public:
        explicit ControlCallScope(ScriptedDevice& device);
        ~ControlCallScope();

    private:
        ScriptedDevice& device;
    };
    std::atomic<int> controlCallsInside{0};
    std::string name;
    CallLog& log;
    std::mutex controlsMutex;  // guards setCalls, controlThreads and frameRate
};

// Hands the camera scripted components, numbered in creation order, and lets the test
// configure each one before the camera sees it.
class ScriptedComponents : public ComponentFactory {
public:
    explicit ScriptedComponents(CallLog& log) : log(log) {}

    std::unique_ptr<QuarvelTOFSensor> makeCsiSensor(const char* devicePath,
                                                    int boardModel) const override;
    std::unique_ptr<QuarvelTOFSensor> makeUsbSensor(const std::string& configPath,
                                                    int index) const override;
    std::unique_ptr<QuarvelDevice> makeHqvgaDevice(int boardModel) const override;
    std::unique_ptr<QuarvelDevice> makeVgaDevice(int boardModel) const override;

    // Called on each new component before it is handed over.
    std::function<void(ScriptedSensor&)> configureSensor = [](ScriptedSensor&) {};
    std::function<void(ScriptedDevice&)> configureDevice = [](ScriptedDevice&) {};
    // Hand out the library's real 240x180 device instead of a scripted one.
    bool realHqvgaDevice = false;

    // The most recently created components (owned by the camera).
    mutable ScriptedSensor* lastSensor = nullptr;
    mutable ScriptedDevice* lastDevice = nullptr;
    mutable std::vector<std::string> creations;

private:
    std::unique_ptr<QuarvelTOFSensor> makeSensor(const std::string& kind) const;
    std::unique_ptr<QuarvelDevice> makeDevice(const std::string& kind, int boardModel) const;
    CallLog& log;
    mutable int sensorNumber = 0;
    mutable int deviceNumber = 0;
};


}  // namespace support
}  // namespace Quarvel

namespace Quarvel {
namespace support {

// A camera on scripted components, on a board without a device-tree model.
struct CameraRig {
    CallLog log;
    ScriptedComponents components{log};
    std::unique_ptr<QuarvelTOFCamera> camera;

    CameraRig();
    // Opens over USB with scripted sensors that deliver a frame every `frameDelay`.
    int openUsb(std::chrono::microseconds frameDelay = std::chrono::microseconds(2000));
    ScriptedSensor& sensor() { return *components.lastSensor; }
    ScriptedDevice& device() { return *components.lastDevice; }
};

}  // namespace support
}  // namespace Quarvel
