// The C entry points of the stand-in SDK and its test bench, over one simulated camera.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/ThreadSafety.h"
#include "sdk/CallFaultBench.h"
#include "sdk/usb/SimulatedUsbCamera.h"
#include "sdk/usb/quarvel_evk_sdk.h"
#include "sdk/usb/quarvel_evk_sim.h"

#define QUARVEL_EVK_API extern "C" __attribute__((visibility("default")))

namespace {

using Quarvel::evk::SimulatedUsbCamera;

constexpr uint32_t kOpenParamVersion = 0x314B5651;  // "QVK1"

// The one camera of this process and what the test bench records about it.
struct Registry {
    Quarvel::Mutex mutex;  // guards every field
    std::shared_ptr<SimulatedUsbCamera> camera GUARDED_BY(mutex);
    bool opened GUARDED_BY(mutex) = false;
    std::string lastPath GUARDED_BY(mutex);
    int lastBinFlag GUARDED_BY(mutex) = 0;
    std::vector<uint8_t> registerLog GUARDED_BY(mutex);
};

Registry& registry() {
    static Registry instance;
    return instance;
}

// The camera a handle names, kept alive for the duration of the call; null if stale.
std::shared_ptr<SimulatedUsbCamera> cameraFor(QuarvelCameraHandle handle) {
    Registry& r = registry();
    Quarvel::MutexLock lock(r.mutex);
    if (handle == nullptr || r.camera.get() != handle) return nullptr;
    return r.camera;
}

std::shared_ptr<SimulatedUsbCamera> openCamera() {
    Registry& r = registry();
    Quarvel::MutexLock lock(r.mutex);
    return r.camera;
}

const char* const kSdkFunctions[] = {
    "QuarvelDefaultParam", "QuarvelOpenCamera",    "QuarvelInitCamera",  "QuarvelGetCameraConfig",
    "QuarvelStartCamera",  "QuarvelStopCamera",    "QuarvelCloseCamera", "QuarvelCaptureImage",
    "QuarvelFreeImage",    "QuarvelWriteSensorReg"};
constexpr size_t kSdkFunctionCount = sizeof kSdkFunctions / sizeof kSdkFunctions[0];

// Calls counted and failures scripted (test bench).
Quarvel::CallFaultBench<kSdkFunctionCount>& callFaults() {
    static Quarvel::CallFaultBench<kSdkFunctionCount> bench(kSdkFunctions);
    return bench;
}

// Counts a call of `function`; the status it must fail with, or 0 to go on.
int injectedFailure(const char* function) { return callFaults().onCall(function); }

}  // namespace

#define QUARVEL_EVK_INJECT_FAILURE()                                       \
    do {                                                                   \
        if (const int failure = injectedFailure(__func__)) return failure; \
    } while (0)

QUARVEL_EVK_API int QuarvelDefaultParam(void* param) {
    QUARVEL_EVK_INJECT_FAILURE();
    if (param == nullptr) return QUARVEL_EVK_ERROR;
    uint8_t* record = static_cast<uint8_t*>(param);
    std::memset(record, 0, QUARVEL_OPEN_PARAM_SIZE);
    std::memcpy(record + QUARVEL_OPEN_PARAM_VERSION, &kOpenParamVersion, sizeof kOpenParamVersion);
    return QUARVEL_EVK_SUCCESS;
}

QUARVEL_EVK_API int QuarvelOpenCamera(QuarvelCameraHandle* handle, void* param) {
    QUARVEL_EVK_INJECT_FAILURE();
    if (handle == nullptr || param == nullptr) return QUARVEL_EVK_ERROR;
    const uint8_t* record = static_cast<const uint8_t*>(param);
    uint32_t version = 0;
    std::memcpy(&version, record + QUARVEL_OPEN_PARAM_VERSION, sizeof version);
    if (version != kOpenParamVersion) {
        std::fprintf(stderr,
                     "quarvel_evk_sdk: open parameters were not prepared by "
                     "QuarvelDefaultParam\n");
        return QUARVEL_EVK_ERROR;
    }
    const char* path = nullptr;
    std::memcpy(&path, record + QUARVEL_OPEN_PARAM_CONFIG_PATH, sizeof path);
    const int binFlag = record[QUARVEL_OPEN_PARAM_BIN_FLAG];
    const std::string configPath = path ? path : "";

    Registry& r = registry();
    {
        Quarvel::MutexLock lock(r.mutex);
        r.opened = true;
        r.lastPath = configPath;
        r.lastBinFlag = binFlag;
        r.registerLog.clear();
        if (r.camera) {
            std::fprintf(stderr, "quarvel_evk_sdk: the USB camera is already open\n");
            return QUARVEL_EVK_BUSY;
        }
    }

    Quarvel::sim::SimulatedCameraConfig config;
    if (!configPath.empty()) {
        std::string error;
        if (!Quarvel::sim::SimulatedCameraConfig::load(configPath, config, error)) {
            std::fprintf(stderr, "quarvel_evk_sdk: cannot open camera: %s\n", error.c_str());
            return QUARVEL_EVK_NO_CAMERA;
        }
    }
    auto camera = std::make_shared<SimulatedUsbCamera>(config);
    Quarvel::MutexLock lock(r.mutex);
    if (r.camera) {
        std::fprintf(stderr, "quarvel_evk_sdk: the USB camera is already open\n");
        return QUARVEL_EVK_BUSY;
    }
    r.camera = camera;
    *handle = camera.get();
    return QUARVEL_EVK_SUCCESS;
}

QUARVEL_EVK_API int QuarvelInitCamera(QuarvelCameraHandle handle) {
    QUARVEL_EVK_INJECT_FAILURE();
    auto camera = cameraFor(handle);
    return camera ? camera->init() : QUARVEL_EVK_ERROR;
}

QUARVEL_EVK_API int QuarvelGetCameraConfig(QuarvelCameraHandle handle, void* config) {
    QUARVEL_EVK_INJECT_FAILURE();
    auto camera = cameraFor(handle);
    if (!camera || config == nullptr) return QUARVEL_EVK_ERROR;
    camera->fillConfig(static_cast<uint8_t*>(config));
    return QUARVEL_EVK_SUCCESS;
}

QUARVEL_EVK_API int QuarvelStartCamera(QuarvelCameraHandle handle) {
    QUARVEL_EVK_INJECT_FAILURE();
    auto camera = cameraFor(handle);
    return camera ? camera->start() : QUARVEL_EVK_ERROR;
}

QUARVEL_EVK_API int QuarvelStopCamera(QuarvelCameraHandle handle) {
    QUARVEL_EVK_INJECT_FAILURE();
    auto camera = cameraFor(handle);
    return camera ? camera->stop() : QUARVEL_EVK_ERROR;
}

QUARVEL_EVK_API int QuarvelCloseCamera(QuarvelCameraHandle handle) {
    QUARVEL_EVK_INJECT_FAILURE();
    std::shared_ptr<SimulatedUsbCamera> camera;
    {
        Registry& r = registry();
        Quarvel::MutexLock lock(r.mutex);
        if (handle == nullptr || r.camera.get() != handle) return QUARVEL_EVK_ERROR;
        camera = std::move(r.camera);
    }
    // A capture still blocked on another thread keeps its own reference and returns now.
    camera->shutdown();
    return QUARVEL_EVK_SUCCESS;
}

QUARVEL_EVK_API int QuarvelCaptureImage(QuarvelCameraHandle handle, QuarvelImageFrame* frame,
                                        int timeoutMs) {
    QUARVEL_EVK_INJECT_FAILURE();
    auto camera = cameraFor(handle);
    return camera ? camera->capture(frame, timeoutMs) : QUARVEL_EVK_ERROR;
}

QUARVEL_EVK_API int QuarvelFreeImage(QuarvelCameraHandle handle, QuarvelImageFrame frame) {
    QUARVEL_EVK_INJECT_FAILURE();
    auto camera = cameraFor(handle);
    return camera ? camera->release(frame) : QUARVEL_EVK_ERROR;
}

QUARVEL_EVK_API int QuarvelWriteSensorReg(QuarvelCameraHandle handle, uint16_t reg, uint8_t value) {
    QUARVEL_EVK_INJECT_FAILURE();
    auto camera = cameraFor(handle);
    if (!camera) return QUARVEL_EVK_ERROR;
    {
        Registry& r = registry();
        Quarvel::MutexLock lock(r.mutex);
        const uint8_t bytes[3] = {static_cast<uint8_t>(reg >> 8), static_cast<uint8_t>(reg & 0xFF),
                                  value};
        r.registerLog.insert(r.registerLog.end(), bytes, bytes + 3);
    }
    return camera->writeRegister(reg, value);
}

QUARVEL_EVK_API int QuarvelSimLastOpenParam(char* path, size_t capacity, int* binFlag) {
    Registry& r = registry();
    Quarvel::MutexLock lock(r.mutex);
    if (!r.opened) return -1;
    if (path != nullptr && capacity > 0) {
        const size_t length = std::min(capacity - 1, r.lastPath.size());
        std::memcpy(path, r.lastPath.data(), length);
        path[length] = '\0';
    }
    if (binFlag != nullptr) *binFlag = r.lastBinFlag;
    return 0;
}

QUARVEL_EVK_API size_t QuarvelSimRegisterLog(uint8_t* bytes, size_t capacity) {
    Registry& r = registry();
    Quarvel::MutexLock lock(r.mutex);
    if (bytes != nullptr) {
        std::memcpy(bytes, r.registerLog.data(), std::min(capacity, r.registerLog.size()));
    }
    return r.registerLog.size();
}

QUARVEL_EVK_API int QuarvelSimQueueFrame(uint64_t timestampMs, const void* data, uint32_t size) {
    auto camera = openCamera();
    if (!camera) return -1;
    camera->queueFrame(timestampMs, data, size);
    return 0;
}

QUARVEL_EVK_API int QuarvelSimQueueMissedCapture(void) {
    auto camera = openCamera();
    if (!camera) return -1;
    camera->queueMissedCapture();
    return 0;
}

QUARVEL_EVK_API int QuarvelSimFramesLent(void) {
    auto camera = openCamera();
    return camera ? camera->framesLent() : 0;
}

QUARVEL_EVK_API int QuarvelSimFindDelivery(uint64_t timestampMs, QuarvelSimDelivery* delivery) {
    auto camera = openCamera();
    if (!camera || delivery == nullptr) return -1;
    return camera->findDelivery(timestampMs, *delivery) ? 0 : -1;
}

QUARVEL_EVK_API int QuarvelSimFailCall(const char* function, int status, unsigned skip,
                                       unsigned times) {
    return callFaults().fail(function, status, skip, times);
}

QUARVEL_EVK_API void QuarvelSimClearFailures(void) { callFaults().clear(); }

QUARVEL_EVK_API uint64_t QuarvelSimCallCount(const char* function) {
    return callFaults().callCount(function);
}

QUARVEL_EVK_API int QuarvelSimOpenCameras(void) { return openCamera() ? 1 : 0; }
