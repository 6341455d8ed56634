// The kernel a contract test runs against: the simulated one or the real one in a VM.
#pragma once

#include <cstddef>
#include <string>

#include "sensor/SystemCalls.h"

namespace Quarvel {
namespace contract {

// The five exported I2C functions, as the target reaches them: the real exported symbols
// on the real kernel, their seam versions bound to the simulated kernel otherwise.
struct I2cFunctions {
    int (*openDevice)(int bus, char* filename, size_t size, int quiet);
    int (*getFunctionality)(int fd, unsigned long* funcs);
    int (*setSlaveAddress)(int fd, int address, int force);
    int (*setAdapterTimeout)(int fd, int timeout);
    int (*setAdapterRetries)(int fd, int retries);
};

// Everything a contract test may use of its kernel. Each test executable defines
// contractTarget() once; the assertions are the same for every target.
struct ContractTarget {
    std::string name;  // "simulated" or "real"
    SystemCalls* system;
    I2cFunctions i2c;
    // The i2c-stub adapter's bus number and the name it shows in sysfs.
    int stubBus;
    std::string stubName;
    // Whether the media graph with subdevices (vimc) is present.
    bool subdeviceGraph;
};

const ContractTarget& contractTarget();

}  // namespace contract
}  // namespace Quarvel
