// Where the camera gets its sensor transports and processing devices from.
#pragma once

#include <memory>
#include <string>

#include "core/QuarvelDevice.h"
#include "core/QuarvelTOFSensor.h"

namespace Quarvel {

class SystemCalls;  // sensor/SystemCalls.h

// The camera creates its components only through this interface, so tests and other
// embedders can hand it their own. The production set is defaultComponents().
class ComponentFactory {
public:
    virtual ~ComponentFactory() = default;
    virtual std::unique_ptr<QuarvelTOFSensor> makeCsiSensor(const char* devicePath,
                                                            int boardModel) const = 0;
    virtual std::unique_ptr<QuarvelTOFSensor> makeUsbSensor(const std::string& configPath,
                                                            int index) const = 0;
    virtual std::unique_ptr<QuarvelDevice> makeHqvgaDevice(int boardModel) const = 0;
    virtual std::unique_ptr<QuarvelDevice> makeVgaDevice(int boardModel) const = 0;
    // The system the camera's board probe reads; the real one unless a set says otherwise.
    virtual SystemCalls& systemCalls() const;
};

// The real transports and devices of this library.
const ComponentFactory& defaultComponents();

// What a camera constructed without arguments uses: the production set, or, when the
// environment variable QUARVEL_SIMULATED_BOARD names a simulated board and sensor, the
// production components over that simulated system (sensor/SimulatedBoardSwitch.cpp).
const ComponentFactory& componentsForThisProcess();

// Constructors of the production components, each defined beside its class.
std::unique_ptr<QuarvelTOFSensor> createCsiSensor(const char* devicePath, int boardModel);
// The CSI transport over another system (`system` must outlive the transport).
std::unique_ptr<QuarvelTOFSensor> createCsiSensor(const char* devicePath, int boardModel,
                                                  SystemCalls& system);
std::unique_ptr<QuarvelTOFSensor> createUsbSensor(const std::string& configPath, int index);
std::unique_ptr<QuarvelDevice> createHqvgaDevice(int boardModel);
std::unique_ptr<QuarvelDevice> createVgaDevice(int boardModel);

}  // namespace Quarvel
