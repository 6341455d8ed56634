// Checks shared by the bus lookup targets: the adapter list and the lookup agree.
#pragma once

#include <string>
#include <vector>

#include "sensor/I2cBusLookup.h"
#include "sensor/SystemCalls.h"

namespace Quarvel {
namespace fuzz {

// Every adapter listed names a bus node that can exist (0..0xFFFFF) by a name of one line.
void checkAdapterList(const std::vector<I2cAdapterEntry>& adapters);

// Looks `text` up and checks the result against the adapter list: a number is the bus, a
// name matching exactly one adapter gives its bus, anything else fails with exactly the
// one message that says why. Messages other than "Error: ..." lines (an adapter skipped
// with "<path>: read error") are allowed before it.
void checkLookupAgainstList(SystemCalls& system, const std::string& text,
                            const std::vector<I2cAdapterEntry>& adapters);

}  // namespace fuzz
}  // namespace Quarvel
