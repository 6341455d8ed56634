// QUARVEL_SIMULATED_BOARD: loading the simulation library and handing its system to cameras.
#include "sensor/SimulatedBoardSwitch.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "core/ThreadSafety.h"

namespace Quarvel {

std::unique_ptr<QuarvelTOFSensor> SeamComponents::makeCsiSensor(const char* devicePath,
                                                                int boardModel) const {
    return createCsiSensor(devicePath, boardModel, system);
}

std::unique_ptr<QuarvelTOFSensor> SeamComponents::makeUsbSensor(const std::string& configPath,
                                                                int index) const {
    return createUsbSensor(configPath, index);
}

std::unique_ptr<QuarvelDevice> SeamComponents::makeHqvgaDevice(int boardModel) const {
    return createHqvgaDevice(boardModel);
}

std::unique_ptr<QuarvelDevice> SeamComponents::makeVgaDevice(int boardModel) const {
    return createVgaDevice(boardModel);
}

namespace {

// The directory this library was loaded from, with a trailing slash, or empty.
std::string ownDirectory() {
    Dl_info self{};
    if (dladdr(reinterpret_cast<void*>(&loadSimulatedSystem), &self) == 0 ||
        self.dli_fname == nullptr) {
        return {};
    }
    const std::string path = self.dli_fname;
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

SystemCalls* loadSimulatedSystem(const char* boardAndSensor) {
    // The library stays loaded for the life of the process: cameras keep its system.
    static Mutex loadMutex;  // guards entryPoint
    static SimulationEntryPoint entryPoint GUARDED_BY(loadMutex) = nullptr;
    MutexLock lock(loadMutex);
    if (entryPoint == nullptr) {
        const std::string beside = ownDirectory() + kSimulationLibraryName;
        void* library = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) library = dlopen(kSimulationLibraryName, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            std::fprintf(stderr, "%s=%s: cannot load the simulation: %s\n", kSimulatedBoardVariable,
                         boardAndSensor, dlerror());
            return nullptr;
        }
        entryPoint = reinterpret_cast<SimulationEntryPoint>(dlsym(library, kSimulationEntryPoint));
        if (entryPoint == nullptr) {
            std::fprintf(stderr, "%s=%s: %s has no %s\n", kSimulatedBoardVariable, boardAndSensor,
                         kSimulationLibraryName, kSimulationEntryPoint);
            return nullptr;
        }
    }
    auto* system = static_cast<SystemCalls*>(entryPoint(boardAndSensor));
    if (system == nullptr) {
        std::fprintf(stderr, "%s=%s: unknown board or sensor\n", kSimulatedBoardVariable,
                     boardAndSensor);
    }
    return system;
}

const ComponentFactory& componentsForThisProcess() {
    const char* requested = std::getenv(kSimulatedBoardVariable);
    if (requested == nullptr || *requested == '\0') return defaultComponents();
    SystemCalls* system = loadSimulatedSystem(requested);
    if (system == nullptr) return defaultComponents();
    // One component set per simulated system, kept for the life of the process.
    static Mutex setsMutex;  // guards sets
    static auto* sets PT_GUARDED_BY(setsMutex) =
        new std::map<SystemCalls*, std::unique_ptr<SeamComponents>>();
    MutexLock lock(setsMutex);
    std::unique_ptr<SeamComponents>& set = (*sets)[system];
    if (!set) set = std::make_unique<SeamComponents>(*system);
    return *set;
}

}  // namespace Quarvel
