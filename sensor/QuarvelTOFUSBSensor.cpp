// Placeholder until the USB transport lands: opening this kind of camera fails cleanly.
#include "core/ComponentFactory.h"

namespace Quarvel {

std::unique_ptr<QuarvelTOFSensor> createUsbSensor(const std::string&, int) { return nullptr; }

}  // namespace Quarvel
