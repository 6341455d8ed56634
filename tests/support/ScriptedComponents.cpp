// Scripted sensor and device for camera tests.
#include "tests/support/ScriptedComponents.h"

#include <cstring>
#include <thread>

namespace Quarvel {
namespace support {

void CallLog::add(const std::string& entry) {
    std::lock_guard<std::mutex> lock(entriesMutex);
    log.push_back(entry);
}

std::vector<std::string> CallLog::entries() const {
    std::lock_guard<std::mutex> lock(entriesMutex);
    return log;
}

std::vector<std::string> CallLog::only(const std::string& prefix) const {
    std::vector<std::string> matching;
    for (const auto& entry : entries()) {
        if (entry.rfind(prefix, 0) == 0) matching.push_back(entry);
    }
    return matching;
}

void CallLog::clear() {
    std::lock_guard<std::mutex> lock(entriesMutex);
    log.clear();
}

ScriptedSensor::ScriptedSensor(std::string sensorName, CallLog& callLog)
    : name(std::move(sensorName)), log(callLog) {}

ScriptedSensor::~ScriptedSensor() {
    log.add(name + ".destroy");
    if (destroyedFlag) *destroyedFlag = true;
}

int ScriptedSensor::open(CameraInfo& info) {
    log.add(name + ".open");
    ++openCount;
    info.width = width;
    info.height = height;
    info.bit_width = 12;
    info.bpp = 2;
    stored = info;
    stored.connect = connect;
    return openResult;
}

int ScriptedSensor::close() {
    log.add(name + ".close");
    ++closeCount;
    return closeResult;
}

int ScriptedSensor::start() {
    log.add(name + ".start");
    return startResult;
}

int ScriptedSensor::stop() {
    log.add(name + ".stop");
    return stopResult;
}

CameraInfo ScriptedSensor::getCameraInfo() {
    CameraInfo info = stored;
    info.width = width;
    info.height = height;
    return info;
}

int ScriptedSensor::getFrame(uint8_t* dst, uint64_t* timestamp) {
    if (beforeRead) beforeRead(framesRead + 1);
    std::this_thread::sleep_for(frameDelay);
    const uint64_t number = ++framesRead;
    int result = 0;
    {
        std::lock_guard<std::mutex> lock(scriptMutex);
        if (!frameResults.empty()) {
            result = frameResults.front();
            frameResults.pop_front();
        }
    }
    const size_t subframeBytes = static_cast<size_t>(width) * height * 2;
    if (fillFrame) {
        fillFrame(dst, subframeBytes * subframeCount, number);
        if (writeTimestamp) *timestamp = timestampOf(number);
        return result;
    }
    const auto sample = static_cast<uint16_t>(number);
    for (int sub = 0; sub < subframeCount; ++sub) {
        std::memcpy(dst + sub * subframeBytes, &sample, sizeof sample);
    }
    if (writeTimestamp) *timestamp = timestampOf(number);
    return result;
}

int ScriptedSensor::setControl(CameraCtrl ctrl, int value) {
    log.add(name + ".setControl(" + std::to_string(static_cast<int>(ctrl)) + "," +
            std::to_string(value) + ")");
    std::lock_guard<std::mutex> lock(scriptMutex);
    controls[static_cast<int>(ctrl)] = value;
    return 0;
}

int ScriptedSensor::getControl(CameraCtrl ctrl, int* value) {
    std::lock_guard<std::mutex> lock(scriptMutex);
    auto found = controls.find(static_cast<int>(ctrl));
    if (found == controls.end()) return 1;
    *value = found->second;
    return 0;
}

ScriptedDevice::ScriptedDevice(std::string deviceName, CallLog& callLog, int board)
    : QuarvelDevice(board), name(std::move(deviceName)), log(callLog) {}

ScriptedDevice::~ScriptedDevice() {
    log.add(name + ".destroy");
    if (destroyedFlag) *destroyedFlag = true;
}

int ScriptedDevice::getFrameFormats(FrameLayout* raw, FrameLayout* output) {
    log.add(name + ".getFrameFormats");
    *raw = rawLayout;
    *output = outputLayout;
    return 2;
}

int ScriptedDevice::open(QuarvelTOFSensor* boundSensor) {
    log.add(name + ".open");
    sensor = boundSensor;
    return openResult;
}

int ScriptedDevice::close() {
    log.add(name + ".close");
    return 0;
}

int ScriptedDevice::prepare() {
    log.add(name + ".prepare");
    return prepareResult;
}

int ScriptedDevice::start() {
    log.add(name + ".start");
    return startResult;
}

int ScriptedDevice::stop() {
    log.add(name + ".stop");
    return 0;
}

ScriptedDevice::ControlCallScope::ControlCallScope(ScriptedDevice& owner) : device(owner) {
    if (device.controlCallsInside.fetch_add(1) != 0) device.controlCallsOverlapped = true;
    ++device.controlCalls;
    {
        std::lock_guard<std::mutex> lock(device.controlsMutex);
        device.controlThreads.insert(std::this_thread::get_id());
    }
    // Stay inside a little, so that an unserialised caller would be caught here.
    std::this_thread::sleep_for(std::chrono::microseconds(20));
}

ScriptedDevice::ControlCallScope::~ControlCallScope() { device.controlCallsInside.fetch_sub(1); }

int ScriptedDevice::setControl(CameraCtrl ctrl, int value) {
    ControlCallScope inside(*this);
    log.add(name + ".setControl(" + std::to_string(static_cast<int>(ctrl)) + "," +
            std::to_string(value) + ")");
    std::lock_guard<std::mutex> lock(controlsMutex);
    setCalls.emplace_back(ctrl, value);
    if (ctrl == CameraCtrl::FRAME_RATE && setControlResult == 0) frameRate = value;
    return setControlResult;
}

std::vector<std::pair<CameraCtrl, int>> ScriptedDevice::setCallsSoFar() {
    std::lock_guard<std::mutex> lock(controlsMutex);
    return setCalls;
}

size_t ScriptedDevice::controlThreadCount() {
    std::lock_guard<std::mutex> lock(controlsMutex);
    return controlThreads.size();
}

int ScriptedDevice::setControlExt(CameraCtrl ctrl, const char*) {
    log.add(name + ".setControlExt(" + std::to_string(static_cast<int>(ctrl)) + ")");
    return 0;
}

int ScriptedDevice::getControl(CameraCtrl ctrl, int* value) {
    ControlCallScope inside(*this);
    log.add(name + ".getControl(" + std::to_string(static_cast<int>(ctrl)) + ")");
    std::lock_guard<std::mutex> lock(controlsMutex);
    if (ctrl == CameraCtrl::FRAME_RATE) {
        if (frameRateResult != 0) return frameRateResult;
        *value = frameRate;
        return 0;
    }
    if (ctrl == CameraCtrl::RANGE) {
        *value = 4000;
        return 0;
    }
    return sensor ? sensor->getControl(ctrl, value) : -1;
}

int ScriptedDevice::getControlExt(CameraCtrl ctrl, const char** value) {
    log.add(name + ".getControlExt(" + std::to_string(static_cast<int>(ctrl)) + ")");
    *value = "scripted";
    return 0;
}

bool ScriptedDevice::getRawImages(const uint8_t* raw, int16_t* rawPlane) {
    // The camera sized the plane by rawLayout; a script may give it no samples at all.
    if (static_cast<size_t>(rawLayout.width) * rawLayout.height == 0) return true;
    std::memcpy(rawPlane, raw, sizeof(int16_t));
    return true;
}

bool ScriptedDevice::getPhaseImage(const uint8_t* raw, float* depth, float* amplitude,
                                   float* confidence) {
    ++phaseCalls;
    uint16_t number = 0;
    std::memcpy(&number, raw, sizeof number);
    const size_t pixels = static_cast<size_t>(outputLayout.width) * outputLayout.height;
    for (size_t i = 0; i < pixels; ++i) {
        depth[i] = number;
        amplitude[i] = number;
        confidence[i] = number;
    }
    return phaseResult;
}

std::unique_ptr<QuarvelTOFSensor> ScriptedComponents::makeSensor(const std::string& kind) const {
    const std::string sensorName = "sensor" + std::to_string(++sensorNumber);
    creations.push_back(sensorName + ":" + kind);
    auto sensor = std::make_unique<ScriptedSensor>(sensorName, log);
    sensor->connect = kind == "csi" ? Connection::CSI : Connection::USB;
    configureSensor(*sensor);
    lastSensor = sensor.get();
    return sensor;
}

std::unique_ptr<QuarvelDevice> ScriptedComponents::makeDevice(const std::string& kind,
                                                              int boardModel) const {
    const std::string deviceName = "device" + std::to_string(++deviceNumber);
    creations.push_back(deviceName + ":" + kind);
    auto device = std::make_unique<ScriptedDevice>(deviceName, log, boardModel);
    device->type = kind == "hqvga" ? HQVGA : VGA;
    configureDevice(*device);
    lastDevice = device.get();
    return device;
}

std::unique_ptr<QuarvelTOFSensor> ScriptedComponents::makeCsiSensor(const char* devicePath,
                                                                    int) const {
    creations.push_back(std::string("path:") + devicePath);
    return makeSensor("csi");
}

std::unique_ptr<QuarvelTOFSensor> ScriptedComponents::makeUsbSensor(const std::string& path,
                                                                    int) const {
    creations.push_back("config:" + path);
    return makeSensor("usb");
}

std::unique_ptr<QuarvelDevice> ScriptedComponents::makeHqvgaDevice(int boardModel) const {
    if (realHqvgaDevice) {
        creations.push_back("real:hqvga");
        lastDevice = nullptr;
        return createHqvgaDevice(boardModel);
    }
    return makeDevice("hqvga", boardModel);
}

std::unique_ptr<QuarvelDevice> ScriptedComponents::makeVgaDevice(int boardModel) const {
    return makeDevice("vga", boardModel);
}

CameraRig::CameraRig()
    : camera(std::make_unique<QuarvelTOFCamera>(components, "/nonexistent/model")) {}

int CameraRig::openUsb(std::chrono::microseconds frameDelay) {
    auto previous = components.configureSensor;
    components.configureSensor = [previous, frameDelay](ScriptedSensor& s) {
        s.frameDelay = frameDelay;
        previous(s);
    };
    return camera->open(Connection::USB, 0);
}

}  // namespace support
}  // namespace Quarvel
