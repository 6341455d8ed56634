// Where the camera gets its sensor transports and processing devices from.
#pragma once

#include <memory>
#include <string>

#include "core/QuarvelDevice.h"
#include "core/QuarvelTOFSensor.h"

namespace Quarvel {

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
};

// The real transports and devices of this library.
const ComponentFactory& defaultComponents();

// Constructors of the production components, each defined beside its class.
std::unique_ptr<QuarvelTOFSensor> createCsiSensor(const char* devicePath, int boardModel);
std::unique_ptr<QuarvelTOFSensor> createUsbSensor(const std::string& configPath, int index);
std::unique_ptr<QuarvelDevice> createHqvgaDevice(int boardModel);
std::unique_ptr<QuarvelDevice> createVgaDevice(int boardModel);

}  // namespace Quarvel
