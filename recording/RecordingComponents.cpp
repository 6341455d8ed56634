// Sensor and device wrappers that hand a recorder what passes through them: the raw frame
// as the sensor delivered it into the cache, the planes the device computed from it, and
// every control change.
#include <memory>

#include "recording/Recorder.h"

namespace Quarvel {

namespace {

class RecordingSensor final : public QuarvelTOFSensor {
public:
    RecordingSensor(std::unique_ptr<QuarvelTOFSensor> wrapped, Recorder& sink)
        : inner(std::move(wrapped)), recorder(sink) {}

    int open(CameraInfo& info) override {
        inner->subframeCount = subframeCount;
        return inner->open(info);
    }
    int close() override { return inner->close(); }
    int start() override {
        inner->subframeCount = subframeCount;
        const int result = inner->start();
        if (result != 0) return result;
        int controls[7] = {};
        for (int c = 0; c < 7; ++c) inner->getControl(static_cast<CameraCtrl>(c), &controls[c]);
        recorder.prepareRaw(inner->getCameraInfo(), subframeCount, controls);
        return 0;
    }
    int stop() override {
        recorder.endFrame();
        return inner->stop();
    }
    CameraInfo getCameraInfo() override { return inner->getCameraInfo(); }
    int getFrame(uint8_t* dst, uint64_t* timestamp) override {
        inner->subframeCount = subframeCount;
        const int result = inner->getFrame(dst, timestamp);
        // Only a whole frame is one the camera processes (and one that replays).
        if (result == 0) recorder.beginFrame(dst, *timestamp);
        return result;
    }
    int setControl(CameraCtrl ctrl, int value) override { return inner->setControl(ctrl, value); }
    int getControl(CameraCtrl ctrl, int* value) override { return inner->getControl(ctrl, value); }

private:
    std::unique_ptr<QuarvelTOFSensor> inner;
    Recorder& recorder;
};

class RecordingDevice final : public QuarvelDevice {
public:
    RecordingDevice(std::unique_ptr<QuarvelDevice> wrapped, Recorder& sink)
        : QuarvelDevice(wrapped->boardModel), inner(std::move(wrapped)), recorder(sink) {}

    int getDeviceType() override { return inner->getDeviceType(); }
    int getFrameFormats(FrameLayout* raw, FrameLayout* output) override {
        const int result = inner->getFrameFormats(raw, output);
        recorder.preparePlanes(output->width, output->height);
        return result;
    }
    int open(QuarvelTOFSensor* bound) override {
        sensor = bound;
        return inner->open(bound);
    }
    int close() override { return inner->close(); }
    int prepare() override { return inner->prepare(); }
    int start() override { return inner->start(); }
    int stop() override { return inner->stop(); }
    // Control changes reach the device for everything the camera does not keep itself.
    int setControl(CameraCtrl ctrl, int value) override {
        const int result = inner->setControl(ctrl, value);
        recorder.control(ctrl, value, result);
        return result;
    }
    int setControlExt(CameraCtrl ctrl, const char* value) override {
        return inner->setControlExt(ctrl, value);
    }
    int getControl(CameraCtrl ctrl, int* value) override { return inner->getControl(ctrl, value); }
    int getControlExt(CameraCtrl ctrl, const char** value) override {
        return inner->getControlExt(ctrl, value);
    }
    bool getRawImages(const uint8_t* raw, int16_t* rawPlane) override {
        const bool result = inner->getRawImages(raw, rawPlane);
        recorder.endFrame();
        return result;
    }
    bool getPhaseImage(const uint8_t* raw, float* depth, float* amplitude,
                       float* confidence) override {
        const bool result = inner->getPhaseImage(raw, depth, amplitude, confidence);
        if (result) recorder.addPlanes(depth, amplitude);
        recorder.endFrame();
        return result;
    }

private:
    std::unique_ptr<QuarvelDevice> inner;
    Recorder& recorder;
};

class RecordingFactory final : public ComponentFactory {
public:
    RecordingFactory(const ComponentFactory& wrapped, Recorder& sink)
        : inner(wrapped), recorder(sink) {}
    std::unique_ptr<QuarvelTOFSensor> makeCsiSensor(const char* devicePath,
                                                    int boardModel) const override {
        return wrapSensor(inner.makeCsiSensor(devicePath, boardModel));
    }
    std::unique_ptr<QuarvelTOFSensor> makeUsbSensor(const std::string& configPath,
                                                    int index) const override {
        return wrapSensor(inner.makeUsbSensor(configPath, index));
    }
    std::unique_ptr<QuarvelDevice> makeHqvgaDevice(int boardModel) const override {
        return wrapDevice(inner.makeHqvgaDevice(boardModel));
    }
    std::unique_ptr<QuarvelDevice> makeVgaDevice(int boardModel) const override {
        return wrapDevice(inner.makeVgaDevice(boardModel));
    }
    SystemCalls& systemCalls() const override { return inner.systemCalls(); }

private:
    std::unique_ptr<QuarvelTOFSensor> wrapSensor(std::unique_ptr<QuarvelTOFSensor> made) const {
        if (!made) return nullptr;
        return std::make_unique<RecordingSensor>(std::move(made), recorder);
    }
    std::unique_ptr<QuarvelDevice> wrapDevice(std::unique_ptr<QuarvelDevice> made) const {
        if (!made) return nullptr;
        return std::make_unique<RecordingDevice>(std::move(made), recorder);
    }
    const ComponentFactory& inner;
    Recorder& recorder;
};

}  // namespace

std::unique_ptr<ComponentFactory> recordingComponents(const ComponentFactory& inner,
                                                      Recorder& recorder) {
    return std::make_unique<RecordingFactory>(inner, recorder);
}

}  // namespace Quarvel
