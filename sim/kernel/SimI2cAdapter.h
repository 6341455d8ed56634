// A simulated i2c-dev adapter node that records every message byte for byte.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "core/ThreadSafety.h"
#include "sim/kernel/SimDevice.h"
#include "sim/kernel/SimSensorChip.h"

namespace Quarvel {
namespace sim {

struct RecordedI2cMessage {
    uint16_t address;
    uint16_t flags;
    std::vector<uint8_t> bytes;  // written bytes, or the bytes read
};

// Answers I2C_FUNCS, I2C_RDWR, I2C_SLAVE, I2C_SLAVE_FORCE, I2C_TIMEOUT and I2C_RETRIES as
// the i2c-dev interface describes. A chip with a kernel driver makes I2C_SLAVE fail with
// EBUSY (I2C_SLAVE_FORCE still works); a transfer to an address without a chip fails with
// ENXIO.
class SimI2cAdapter : public SimDevice {
public:
    explicit SimI2cAdapter(unsigned long functionality);

    // Puts `chip` at `address`, bound to a kernel driver.
    void attach(uint16_t address, std::shared_ptr<SimSensorChip> chip);

    int ioctl(unsigned long request, void* argument, bool nonBlocking) override;

    std::vector<RecordedI2cMessage> messages() const;
    void clearMessages();
    long timeout() const;
    long retries() const;
    long slaveAddress() const;

private:
    const unsigned long functionality;
    mutable Mutex adapterMutex;  // guards everything below
    std::map<uint16_t, std::shared_ptr<SimSensorChip>> chips GUARDED_BY(adapterMutex);
    std::vector<RecordedI2cMessage> recorded GUARDED_BY(adapterMutex);
    long timeoutValue GUARDED_BY(adapterMutex) = 100;
    long retriesValue GUARDED_BY(adapterMutex) = 0;
    long slave GUARDED_BY(adapterMutex) = -1;
};

}  // namespace sim
}  // namespace Quarvel
