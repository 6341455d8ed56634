// The 240x180 sensor's device: controls, layouts and the per-frame computation.
#include "device/QuarvelDeviceHQVGA.h"

#include "core/ComponentFactory.h"
#include "device/HqvgaKernels.h"
#include "device/HqvgaPhaseKernel.h"

namespace Quarvel {

std::unique_ptr<QuarvelDevice> createHqvgaDevice(int boardModel) {
    const uint8_t shift = boardModel == BOARD_JETSON ? 4 : 0;  // Jetson delivers MSB-aligned
    return std::make_unique<QuarvelDeviceHQVGA>(boardModel, hqvga::kFrequency4m, 4000, shift);
}

QuarvelDeviceHQVGA::QuarvelDeviceHQVGA(int32_t board, float frequency, int32_t rangeMm,
                                       uint8_t shift)
    : QuarvelDevice(board), rawShift(shift), modulationFrequency(frequency), range(rangeMm) {}

QuarvelDeviceHQVGA::RangeSetting QuarvelDeviceHQVGA::rangeSetting() {
    MutexLock lock(rangeSettingMutex);
    return {range, modulationFrequency};
}

int QuarvelDeviceHQVGA::getDeviceType() { return HQVGA; }

int QuarvelDeviceHQVGA::getFrameFormats(FrameLayout* raw, FrameLayout* output) {
    if (raw) *raw = {2, hqvga::kWidth, hqvga::kHeight * hqvga::kSubframes};
    if (output) *output = {2, hqvga::kWidth, hqvga::kHeight};
    return 2;
}

int QuarvelDeviceHQVGA::open(QuarvelTOFSensor* boundSensor) {
    sensor = boundSensor;
    return QuarvelSuccess;
}

int QuarvelDeviceHQVGA::close() { return QuarvelSuccess; }
int QuarvelDeviceHQVGA::prepare() { return QuarvelSuccess; }
int QuarvelDeviceHQVGA::start() { return QuarvelSuccess; }
int QuarvelDeviceHQVGA::stop() { return QuarvelSuccess; }

int QuarvelDeviceHQVGA::setControl(CameraCtrl ctrl, int value) {
    if (ctrl != CameraCtrl::RANGE) return QuarvelInvalidParameter;
    const bool knownFrequency = value == 2000 || value == 4000;
    {
        MutexLock lock(rangeSettingMutex);
        if (knownFrequency) {
            modulationFrequency = value == 2000 ? hqvga::kFrequency2m : hqvga::kFrequency4m;
        }
        range = value;
    }
    // The sensor must modulate at the frequency we compute with. A CSI sensor takes the
    // range in metres, a USB sensor in millimetres. Its answer does not change ours.
    if (knownFrequency && sensor) {
        const bool metres = sensor->getCameraInfo().connect == Connection::CSI;
        sensor->setControl(CameraCtrl::RANGE, metres ? value / 1000 : value);
    }
    return QuarvelSuccess;
}

int QuarvelDeviceHQVGA::setControlExt(CameraCtrl, const char*) { return QuarvelInvalidParameter; }

int QuarvelDeviceHQVGA::getControl(CameraCtrl ctrl, int* value) {
    if (ctrl == CameraCtrl::RANGE) {
        *value = rangeSetting().range;
        return QuarvelSuccess;
    }
    return sensor ? sensor->getControl(ctrl, value) : -1;
}

int QuarvelDeviceHQVGA::getControlExt(CameraCtrl, const char**) { return QuarvelInvalidParameter; }

bool QuarvelDeviceHQVGA::getRawImages(const uint8_t* raw, int16_t* rawPlane) {
    hqvga::rawInterleave(raw, rawShift, rawPlane);
    return true;
}

bool QuarvelDeviceHQVGA::getPhaseImage(const uint8_t* raw, float* depth, float* amplitude,
                                       float* confidence) {
    const RangeSetting setting = rangeSetting();
    hqvga::phaseImage(raw, rawShift, setting.range, setting.modulationFrequency, depth, amplitude,
                      confidence);
    return true;
}

}  // namespace Quarvel
