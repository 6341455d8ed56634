// I2C adapter functions over i2c-dev: the exported C symbols and their seam versions.
#pragma once

#include <cstddef>

#include "sensor/SystemCalls.h"

// Exported under plain symbol names for library users. They use the real system calls,
// keep no state and are reentrant. Failures print one "Error: ..." line on standard error.
extern "C" {

// Opens "/dev/i2c-<bus>" read-write; the formatted name goes to `filename` (at most `size`
// bytes). The descriptor, or -1 (with a message unless `quiet` is nonzero).
__attribute__((visibility("default"))) int i2c_open_i2c_dev(int bus, char* filename,
                                                            size_t size, int quiet);
// Adapter functionality bits (I2C_FUNCS) into *funcs. 0, or -errno.
__attribute__((visibility("default"))) int i2c_get_functionality(int fd, unsigned long* funcs);
// Chip address for later plain reads and writes; I2C_SLAVE_FORCE when `force` is nonzero.
// 0, or -errno.
__attribute__((visibility("default"))) int i2c_set_slave_addr(int fd, int address, int force);
// Adapter timeout in units of 10 ms; 0 asks for the default of 3. 0, or -errno.
__attribute__((visibility("default"))) int i2c_set_adapter_timeout(int fd, int timeout);
// Adapter retries; 0 asks for the default of 2. 0, or -errno.
__attribute__((visibility("default"))) int i2c_set_adapter_retries(int fd, int retries);
}

namespace Quarvel {
namespace i2c {

// The same operations over any seam; the exported functions call these with the real one.
int openDevice(SystemCalls& system, int bus, char* filename, size_t size, int quiet);
int getFunctionality(SystemCalls& system, int fd, unsigned long* funcs);
int setSlaveAddress(SystemCalls& system, int fd, int address, int force);
int setAdapterTimeout(SystemCalls& system, int fd, int timeout);
int setAdapterRetries(SystemCalls& system, int fd, int retries);

}  // namespace i2c
}  // namespace Quarvel
