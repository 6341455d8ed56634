// The contract tests' kernel in the normal suite: the simulated test-driver machine.
#include "sensor/I2cAdapter.h"
#include "sim/kernel/SimDriverLab.h"
#include "tests/contract/ContractTarget.h"

namespace Quarvel {
namespace contract {

namespace {

// One machine for the whole run, as the virtual machine has one kernel.
sim::SimKernel& labKernel() {
    static std::unique_ptr<sim::SimDriverLab> lab = sim::SimDriverLab::build();
    return lab->kernel();
}

int openDevice(int bus, char* filename, size_t size, int quiet) {
    return i2c::openDevice(labKernel(), bus, filename, size, quiet);
}
int getFunctionality(int fd, unsigned long* funcs) {
    return i2c::getFunctionality(labKernel(), fd, funcs);
}
int setSlaveAddress(int fd, int address, int force) {
    return i2c::setSlaveAddress(labKernel(), fd, address, force);
}
int setAdapterTimeout(int fd, int timeout) {
    return i2c::setAdapterTimeout(labKernel(), fd, timeout);
}
int setAdapterRetries(int fd, int retries) {
    return i2c::setAdapterRetries(labKernel(), fd, retries);
}

}  // namespace

const ContractTarget& contractTarget() {
    static const ContractTarget target{
        "simulated",
        &labKernel(),
        {openDevice, getFunctionality, setSlaveAddress, setAdapterTimeout, setAdapterRetries},
        sim::SimDriverLab::kStubBus,
        sim::SimDriverLab::kStubName,
        true};
    return target;
}

}  // namespace contract
}  // namespace Quarvel
