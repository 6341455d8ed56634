// Simulated i2c-dev adapter.
#include "sim/kernel/SimI2cAdapter.h"

#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace Quarvel {
namespace sim {

namespace {
constexpr uint32_t kMaxMessages = I2C_RDWR_IOCTL_MAX_MSGS;
constexpr uint16_t kMaxMessageLength = 8192;

long valueOf(void* argument) { return static_cast<long>(reinterpret_cast<intptr_t>(argument)); }
}  // namespace

SimI2cAdapter::SimI2cAdapter(unsigned long funcs) : functionality(funcs) {}

void SimI2cAdapter::attach(uint16_t address, std::shared_ptr<SimSensorChip> chip) {
    MutexLock lock(adapterMutex);
    chips[address] = std::move(chip);
}

std::vector<RecordedI2cMessage> SimI2cAdapter::messages() const {
    MutexLock lock(adapterMutex);
    return recorded;
}

void SimI2cAdapter::clearMessages() {
    MutexLock lock(adapterMutex);
    recorded.clear();
}

long SimI2cAdapter::timeout() const {
    MutexLock lock(adapterMutex);
    return timeoutValue;
}

long SimI2cAdapter::retries() const {
    MutexLock lock(adapterMutex);
    return retriesValue;
}

long SimI2cAdapter::slaveAddress() const {
    MutexLock lock(adapterMutex);
    return slave;
}

int SimI2cAdapter::ioctl(unsigned long request, void* argument, bool) {
    MutexLock lock(adapterMutex);
    switch (request) {
        case I2C_FUNCS:
            *static_cast<unsigned long*>(argument) = functionality;
            return 0;
        case I2C_SLAVE:
        case I2C_SLAVE_FORCE: {
            const long address = valueOf(argument);
            if (address < 0 || address > 0x7F) return -EINVAL;
            if (request == I2C_SLAVE && chips.count(static_cast<uint16_t>(address)) != 0) {
                return -EBUSY;
            }
            slave = address;
            return 0;
        }
        case I2C_TIMEOUT: {
            const long value = valueOf(argument);
            if (value < 0) return -EINVAL;
            timeoutValue = value;
            return 0;
        }
        case I2C_RETRIES: {
            const long value = valueOf(argument);
            if (value < 0) return -EINVAL;
            retriesValue = value;
            return 0;
        }
        case I2C_RDWR: {
            auto* transfer = static_cast<i2c_rdwr_ioctl_data*>(argument);
            if (transfer == nullptr || transfer->nmsgs == 0 || transfer->nmsgs > kMaxMessages ||
                transfer->msgs == nullptr) {
                return -EINVAL;
            }
            if (!(functionality & I2C_FUNC_I2C)) return -EOPNOTSUPP;
            for (uint32_t i = 0; i < transfer->nmsgs; ++i) {
                const i2c_msg& message = transfer->msgs[i];
                if (message.len > kMaxMessageLength || message.buf == nullptr) return -EINVAL;
            }
            for (uint32_t i = 0; i < transfer->nmsgs; ++i) {
                i2c_msg& message = transfer->msgs[i];
                auto chip = chips.find(message.addr);
                if (chip == chips.end()) return -ENXIO;  // no acknowledge
                RecordedI2cMessage record{message.addr, message.flags, {}};
                if (message.flags & I2C_M_RD) {
                    std::memset(message.buf, 0, message.len);
                } else {
                    chip->second->writeRegisters(message.buf, message.len);
                }
                record.bytes.assign(message.buf, message.buf + message.len);
                recorded.push_back(record);
            }
            return static_cast<int>(transfer->nmsgs);
        }
        default:
            return -ENOTTY;
    }
}

}  // namespace sim
}  // namespace Quarvel
