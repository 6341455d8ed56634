// Scripted phase library: instances are tokens, answers come from the script.
#include "tests/vga/ScriptedPhaseLibrary.h"

namespace vga_test {

ScriptedPhaseLibrary::~ScriptedPhaseLibrary() {
    for (SiSDKHandle handle : instances) delete static_cast<int*>(handle);
}

bool ScriptedPhaseLibrary::live(SiSDKHandle handle) const {
    return handle != nullptr && instances.count(handle) != 0;
}

void ScriptedPhaseLibrary::record(const std::string& call, SiSDKHandle handle) {
    log.push_back(live(handle) ? call : call + " (no instance)");
}

bool ScriptedPhaseLibrary::create(SiSDKHandle* handle) {
    std::lock_guard<std::mutex> lock(stateMutex);
    log.push_back("create");
    if (!createResult) return false;
    *handle = new int(0);
    instances.insert(*handle);
    return true;
}

bool ScriptedPhaseLibrary::init(SiSDKHandle handle, int width, int height) {
    std::lock_guard<std::mutex> lock(stateMutex);
    record("init " + std::to_string(width) + "x" + std::to_string(height), handle);
    return live(handle) && initResult;
}

bool ScriptedPhaseLibrary::setCaliData(SiSDKHandle handle, const void* data, size_t length) {
    std::lock_guard<std::mutex> lock(stateMutex);
    record("setCaliData " + std::to_string(length), handle);
    calibrationBytes.assign(static_cast<const char*>(data), length);
    calibrationAddress = data;
    return live(handle);
}

bool ScriptedPhaseLibrary::setConfig(SiSDKHandle handle, const char* directory) {
    std::lock_guard<std::mutex> lock(stateMutex);
    record(std::string("setConfig ") + directory, handle);
    return live(handle);
}

bool ScriptedPhaseLibrary::start(SiSDKHandle handle) {
    std::lock_guard<std::mutex> lock(stateMutex);
    record("start", handle);
    return live(handle) && startResult;
}

bool ScriptedPhaseLibrary::getPhaseImage(SiSDKHandle handle, const void*, float*, float*, float*) {
    ++phaseCalls;
    std::lock_guard<std::mutex> lock(stateMutex);
    return live(handle) && phaseResult;
}

int ScriptedPhaseLibrary::isSingleFreq(SiSDKHandle) { return singleFrequency.load() ? 1 : 0; }

bool ScriptedPhaseLibrary::setSingleFreq(SiSDKHandle handle, bool single) {
    std::lock_guard<std::mutex> lock(stateMutex);
    record(std::string("setSingleFreq ") + (single ? "1" : "0"), handle);
    singleFrequency.store(single);
    return live(handle);
}

void ScriptedPhaseLibrary::destroy(SiSDKHandle* handle) {
    onDestroy();
    std::lock_guard<std::mutex> lock(stateMutex);
    record("destroy", *handle);
    if (live(*handle)) {
        instances.erase(*handle);
        delete static_cast<int*>(*handle);
    }
    *handle = nullptr;
}

std::vector<std::string> ScriptedPhaseLibrary::calls() const {
    std::lock_guard<std::mutex> lock(stateMutex);
    return log;
}

std::vector<std::string> ScriptedPhaseLibrary::callsExcept(const std::string& prefix) const {
    std::vector<std::string> kept;
    for (const std::string& call : calls()) {
        if (call.rfind(prefix, 0) != 0) kept.push_back(call);
    }
    return kept;
}

int ScriptedPhaseLibrary::liveInstances() const {
    std::lock_guard<std::mutex> lock(stateMutex);
    return static_cast<int>(instances.size());
}

std::string ScriptedPhaseLibrary::lastCalibrationBytes() const {
    std::lock_guard<std::mutex> lock(stateMutex);
    return calibrationBytes;
}

const void* ScriptedPhaseLibrary::lastCalibrationAddress() const {
    std::lock_guard<std::mutex> lock(stateMutex);
    return calibrationAddress;
}

}  // namespace vga_test
