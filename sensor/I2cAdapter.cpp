// I2C adapter functions: open the bus node, query it, set address, timeout and retries.
#include "sensor/I2cAdapter.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace Quarvel {
namespace i2c {

namespace {
// Requests that take their argument by value, as the kernel expects for these.
void* byValue(long value) { return reinterpret_cast<void*>(static_cast<intptr_t>(value)); }
}  // namespace

int openDevice(SystemCalls& system, int bus, char* filename, size_t size, int quiet) {
    char path[32];
    std::snprintf(path, sizeof path, "/dev/i2c-%d", bus);
    if (filename != nullptr && size > 0) std::snprintf(filename, size, "%s", path);
    const int fd = system.open(path, O_RDWR);
    if (fd < 0 && !quiet) {
        const int error = errno;
        if (error == ENOENT) {
            std::fprintf(stderr, "Error: Could not open file `/dev/i2c-%d': %s\n", bus,
                         std::strerror(error));
        } else {
            std::fprintf(stderr, "Error: Could not open file `%s': %s\n",
                         filename != nullptr && size > 0 ? filename : path,
                         std::strerror(error));
            if (error == EACCES) std::fprintf(stderr, "Run as root?\n");
        }
        errno = error;
    }
    return fd < 0 ? -1 : fd;
}

int getFunctionality(SystemCalls& system, int fd, unsigned long* funcs) {
    if (system.ioctl(fd, I2C_FUNCS, funcs) < 0) {
        const int error = errno;
        std::fprintf(stderr, "Error: Could not get adapter functionality: %s\n",
                     std::strerror(error));
        return -error;
    }
    return 0;
}

int setSlaveAddress(SystemCalls& system, int fd, int address, int force) {
    if (system.ioctl(fd, force ? I2C_SLAVE_FORCE : I2C_SLAVE, byValue(address)) < 0) {
        const int error = errno;
        std::fprintf(stderr, "Error: Could not set address to 0x%02x: %s\n", address,
                     std::strerror(error));
        return -error;
    }
    return 0;
}

int setAdapterTimeout(SystemCalls& system, int fd, int timeout) {
    if (system.ioctl(fd, I2C_TIMEOUT, byValue(timeout == 0 ? 3 : timeout)) < 0) {
        const int error = errno;
        std::fprintf(stderr, "Error: Could not set timeout to %d: %s\n", timeout,
                     std::strerror(error));
        return -error;
    }
    return 0;
}

int setAdapterRetries(SystemCalls& system, int fd, int retries) {
    if (system.ioctl(fd, I2C_RETRIES, byValue(retries == 0 ? 2 : retries)) < 0) {
        const int error = errno;
        std::fprintf(stderr, "Error: Could not set retries to %d: %s\n", retries,
                     std::strerror(error));
        return -error;
    }
    return 0;
}

}  // namespace i2c
}  // namespace Quarvel

extern "C" {

int i2c_open_i2c_dev(int bus, char* filename, size_t size, int quiet) {
    return Quarvel::i2c::openDevice(Quarvel::productionSystemCalls(), bus, filename, size, quiet);
}

int i2c_get_functionality(int fd, unsigned long* funcs) {
    return Quarvel::i2c::getFunctionality(Quarvel::productionSystemCalls(), fd, funcs);
}

int i2c_set_slave_addr(int fd, int address, int force) {
    return Quarvel::i2c::setSlaveAddress(Quarvel::productionSystemCalls(), fd, address, force);
}

int i2c_set_adapter_timeout(int fd, int timeout) {
    return Quarvel::i2c::setAdapterTimeout(Quarvel::productionSystemCalls(), fd, timeout);
}

int i2c_set_adapter_retries(int fd, int retries) {
    return Quarvel::i2c::setAdapterRetries(Quarvel::productionSystemCalls(), fd, retries);
}

}  // extern "C"
