// Placeholder until the VGA device lands: opening this kind of camera fails cleanly.
#include "core/ComponentFactory.h"

namespace Quarvel {

std::unique_ptr<QuarvelDevice> createVgaDevice(int) { return nullptr; }

}  // namespace Quarvel
