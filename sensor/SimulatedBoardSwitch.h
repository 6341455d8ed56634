// The user switch that runs the library on a simulated board instead of the real system.
#pragma once

#include "core/ComponentFactory.h"
#include "sensor/SystemCalls.h"

namespace Quarvel {

// Names a simulated board and sensor, "<board>:<sensor>" (for example "pi5:hqvga"); read
// each time a camera is constructed without arguments.
constexpr const char* kSimulatedBoardVariable = "QUARVEL_SIMULATED_BOARD";

// The simulation library, looked for beside this library first, then on the loader's path.
// The production library never links it.
constexpr const char* kSimulationLibraryName = "libquarvel_sim_kernel.so";

// Its entry point, a plain C symbol:
//   void* quarvel_simulated_system_calls(const char* boardAndSensor);
// returns the Quarvel::SystemCalls of the named simulated board (the same one for the same
// name, living as long as the process), or null for a name it does not know.
constexpr const char* kSimulationEntryPoint = "quarvel_simulated_system_calls";
using SimulationEntryPoint = void* (*)(const char* boardAndSensor);

// The production components, reaching the system through `system` (which must live as long
// as any camera built with them) for the board probe and the CSI transport.
class SeamComponents final : public ComponentFactory {
public:
    explicit SeamComponents(SystemCalls& system) : system(system) {}
    std::unique_ptr<QuarvelTOFSensor> makeCsiSensor(const char* devicePath,
                                                    int boardModel) const override;
    std::unique_ptr<QuarvelTOFSensor> makeUsbSensor(const std::string& configPath,
                                                    int index) const override;
    std::unique_ptr<QuarvelDevice> makeHqvgaDevice(int boardModel) const override;
    std::unique_ptr<QuarvelDevice> makeVgaDevice(int boardModel) const override;
    SystemCalls& systemCalls() const override { return system; }

private:
    SystemCalls& system;
};

// The simulated system named by `boardAndSensor`, loaded from the simulation library, or
// null after one line on standard error saying why it could not be had. Thread-safe.
SystemCalls* loadSimulatedSystem(const char* boardAndSensor);

}  // namespace Quarvel
