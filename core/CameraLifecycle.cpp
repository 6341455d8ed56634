// Camera construction, open, start, stop, close and destruction.
#include <cstdio>
#include <string>

#include "core/BoardModelProbe.h"
#include "core/QuarvelTOFCamera.h"

namespace Quarvel {

namespace {
constexpr int kHqvgaWidth = 240;
constexpr int kHqvgaHeight = 180;
constexpr int kHqvgaSubframes = 4;
}  // namespace

QuarvelTOFCamera::QuarvelTOFCamera() : QuarvelTOFCamera(componentsForThisProcess()) {}

QuarvelTOFCamera::QuarvelTOFCamera(const ComponentFactory& factory, const char* modelPath)
    : components(&factory) {
    boardModel =
        probeBoardModel(factory.systemCalls(), modelPath ? modelPath : kDeviceTreeModelPath);
}

QuarvelTOFCamera::~QuarvelTOFCamera() {
    // The capture thread must never outlive the sensor, device and pool it uses, and a
    // forgotten close must not leak descriptors or SDK handles.
    if (sensor || device) close();
    stopIfStreaming();
    replacePool(nullptr);
    device.reset();
    sensor.reset();
}

void QuarvelTOFCamera::stopIfStreaming() {
    if (!stopFlag.load() && worker.joinable()) stop();
}

void QuarvelTOFCamera::closeAndDropDevice() {
    if (device) device->close();
    device.reset();
}

void QuarvelTOFCamera::replaceSensor(std::unique_ptr<QuarvelTOFSensor> next) {
    stopIfStreaming();
    // The old device is bound to the old sensor: it must not outlive it.
    closeAndDropDevice();
    if (sensor) sensor->close();
    sensor = std::move(next);
}

int QuarvelTOFCamera::open(Connection connect, int index) {
    info.connect = connect;
    info.index = static_cast<uint32_t>(index);
    std::unique_ptr<QuarvelTOFSensor> next;
    if (connect == Connection::CSI) {
        char path[80];
        std::snprintf(path, sizeof path, "/dev/video%d", index);
        next = components->makeCsiSensor(path, boardModel);
    } else if (connect == Connection::USB) {
        next = components->makeUsbSensor(std::string(), index);
    } else {
        return -1;
    }
    return openSensor(std::move(next));
}

int QuarvelTOFCamera::openWithFile(const char* path, int index) {
    if (path == nullptr) return -1;
    info.index = static_cast<uint32_t>(index);
    info.connect = Connection::USB;
    return openSensor(components->makeUsbSensor(std::string(path), index));
}

int QuarvelTOFCamera::openSensor(std::unique_ptr<QuarvelTOFSensor> next) {
    if (!next) return -1;
    next->subframeCount = 1;
    replaceSensor(std::move(next));
    const int result = sensor->open(info);
    if (result != 0) return result;
    return openPostHandle();
}

int QuarvelTOFCamera::openPostHandle() {
    if (!sensor) return -1;
    std::unique_ptr<QuarvelDevice> next;
    if (info.width == kHqvgaWidth && info.height == kHqvgaHeight) {
        sensor->subframeCount = kHqvgaSubframes;
        next = components->makeHqvgaDevice(boardModel);
        info.device_type = HQVGA;
    } else {
        next = components->makeVgaDevice(boardModel);
        info.device_type = VGA;
    }
    if (!next) return -1;
    stopIfStreaming();
    closeAndDropDevice();
    device = std::move(next);
    return device->open(sensor.get());
}

int QuarvelTOFCamera::start(FrameType type) {
    if (!stopFlag.load()) return -1;
    if (!sensor || !device) return -1;

    int range = 0;
    getControl(CameraCtrl::RANGE, &range);
    setControl(CameraCtrl::RANGE, range);

    int result = device->prepare();
    if (result != 0) return result;
    result = sensor->start();
    if (result != 0) return result;
    result = device->start();
    if (result != 0) return result;

    const CameraInfo current = sensor->getCameraInfo();
    info.width = current.width;
    info.height = current.height;
    info.bit_width = current.bit_width;
    info.bpp = current.bpp;
    info.type = type;

    result = setOutputType(type);
    if (result != 0) return result;

    stopFlag.store(false);
    worker = std::thread(&QuarvelTOFCamera::captureThread, this);
    return 0;
}

int QuarvelTOFCamera::stop() {
    stopFlag.store(true);
    worker.join();  // throws std::system_error(invalid_argument) when no thread runs
    if (device) device->stop();
    return sensor ? sensor->stop() : -1;
}

int QuarvelTOFCamera::close() {
    if (!sensor || !device) {
        // A failed open leaves a sensor without a device: it still holds what it opened.
        return sensor ? sensor->close() : -1;
    }
    if (!stopFlag.load()) stop();
    device->close();
    return sensor->close();
}

CameraInfo QuarvelTOFCamera::getCameraInfo() const { return info; }

}  // namespace Quarvel
