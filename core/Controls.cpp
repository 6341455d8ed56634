// Camera controls: the three the camera keeps, the frame-rate bound, and forwarding.
#include "core/QuarvelTOFCamera.h"

namespace Quarvel {

namespace {
constexpr int kMaxSkipLoop = 255;  // the skip rule works on the low 8 bits
}  // namespace

int QuarvelTOFCamera::setControl(CameraCtrl ctrl, int value) {
    switch (ctrl) {
        case CameraCtrl::SKIP_FRAME:
            if (value < 0 || value > skipFrameLoop.load(std::memory_order_relaxed)) {
                return QuarvelInvalidParameter;
            }
            skipFrame.store(value, std::memory_order_relaxed);
            return QuarvelSuccess;
        case CameraCtrl::SKIP_FRAME_LOOP:
            if (value < 1 || value > kMaxSkipLoop ||
                value < skipFrame.load(std::memory_order_relaxed)) {
                return QuarvelInvalidParameter;
            }
            skipFrameLoop.store(value, std::memory_order_relaxed);
            return QuarvelSuccess;
        case CameraCtrl::AUTO_FRAME_RATE:
            autoFrameRate.store(value != 0, std::memory_order_relaxed);
            return QuarvelSuccess;
        default:
            break;
    }
    MutexLock lock(controlCallsMutex);
    if (!device) return -1;
    if (ctrl == CameraCtrl::FRAME_RATE) {
        int bound = 0;
        const int result = device->getControl(CameraCtrl::FRAME_RATE, &bound);
        if (result != 0) return result;
        if (value < 1 || value > bound) return QuarvelInvalidParameter;
    }
    return device->setControl(ctrl, value);
}

int QuarvelTOFCamera::getControl(CameraCtrl ctrl, int* value) {
    if (value == nullptr) return QuarvelInvalidParameter;
    switch (ctrl) {
        case CameraCtrl::AUTO_FRAME_RATE:
            *value = autoFrameRate.load(std::memory_order_relaxed) ? 1 : 0;
            return QuarvelSuccess;
        case CameraCtrl::SKIP_FRAME:
            *value = skipFrame.load(std::memory_order_relaxed);
            return QuarvelSuccess;
        case CameraCtrl::SKIP_FRAME_LOOP:
            *value = skipFrameLoop.load(std::memory_order_relaxed);
            return QuarvelSuccess;
        default:
            break;
    }
    MutexLock lock(controlCallsMutex);
    if (!device) return -1;
    return device->getControl(ctrl, value);
}

int QuarvelTOFCamera::setControlExt(CameraCtrl ctrl, const char* value) {
    MutexLock lock(controlCallsMutex);
    if (!device) return -1;
    return device->setControlExt(ctrl, value);
}

int QuarvelTOFCamera::getControlExt(CameraCtrl ctrl, const char** value) {
    if (value == nullptr) return QuarvelInvalidParameter;
    MutexLock lock(controlCallsMutex);
    if (!device) return -1;
    return device->getControlExt(ctrl, value);
}

}  // namespace Quarvel
