// Placeholder until the CSI transport lands: opening this kind of camera fails cleanly.
#include "core/ComponentFactory.h"

namespace Quarvel {

std::unique_ptr<QuarvelTOFSensor> createCsiSensor(const char*, int) { return nullptr; }

}  // namespace Quarvel
