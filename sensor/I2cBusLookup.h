// Turning the bus name found during discovery into a bus number, and the chip address.
#pragma once

#include <string>
#include <vector>

#include "sensor/SystemCalls.h"

namespace Quarvel {

// One I2C adapter as the system lists it.
struct I2cAdapterEntry {
    int bus;
    std::string name;
};

// Adapters from "/proc/bus/i2c" when it can be read, else from the "class/i2c-dev"
// directory of the sysfs mount named in "/proc/mounts". Empty when neither is readable.
std::vector<I2cAdapterEntry> listI2cAdapters(SystemCalls& system);

// A number (decimal, 0x hexadecimal or 0 octal, at most 0xFFFFF) is the bus itself;
// any other text must be the name of exactly one adapter. The bus number, or a negative
// value after one "Error: ..." line on standard error. Reentrant.
int lookupI2cBus(SystemCalls& system, const char* text);

// A 7-bit chip address in 0x03..0x77: the value, -1 when the text is not a number, -2
// when it is out of range (each after its message on standard error). Reentrant.
int parseChipAddress(const char* text);

}  // namespace Quarvel
