// The production component set.
#include "core/ComponentFactory.h"

#include "sensor/SystemCalls.h"

namespace Quarvel {

SystemCalls& ComponentFactory::systemCalls() const { return productionSystemCalls(); }

namespace {
class ProductionComponents final : public ComponentFactory {
public:
    std::unique_ptr<QuarvelTOFSensor> makeCsiSensor(const char* devicePath,
                                                    int boardModel) const override {
        return createCsiSensor(devicePath, boardModel);
    }
    std::unique_ptr<QuarvelTOFSensor> makeUsbSensor(const std::string& configPath,
                                                    int index) const override {
        return createUsbSensor(configPath, index);
    }
    std::unique_ptr<QuarvelDevice> makeHqvgaDevice(int boardModel) const override {
        return createHqvgaDevice(boardModel);
    }
    std::unique_ptr<QuarvelDevice> makeVgaDevice(int boardModel) const override {
        return createVgaDevice(boardModel);
    }
};
}  // namespace

const ComponentFactory& defaultComponents() {
    static const ProductionComponents components;
    return components;
}

}  // namespace Quarvel
