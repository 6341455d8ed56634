// The contract tests' kernel inside the virtual machine: the real one, through the
// production system calls and the exported I2C functions.
#include <cstring>
#include <vector>

#include "sensor/I2cAdapter.h"
#include "tests/contract/ContractTarget.h"

namespace Quarvel {
namespace contract {

namespace {

// The boot script says on the kernel command line whether it loaded vimc.
bool vimcLoaded() {
    std::vector<std::string> lines;
    if (productionSystemCalls().readLines("/proc/cmdline", 4096, 1, &lines) != 0) return false;
    return !lines.empty() && lines.front().find("quarvel.vimc=1") != std::string::npos;
}

}  // namespace

const ContractTarget& contractTarget() {
    // i2c-stub is the only adapter the virtual machine loads, so it is bus 0.
    static const ContractTarget target{"real",
                                       &productionSystemCalls(),
                                       {i2c_open_i2c_dev, i2c_get_functionality, i2c_set_slave_addr,
                                        i2c_set_adapter_timeout, i2c_set_adapter_retries},
                                       0,
                                       "SMBus stub driver",
                                       vimcLoaded()};
    return target;
}

}  // namespace contract
}  // namespace Quarvel
