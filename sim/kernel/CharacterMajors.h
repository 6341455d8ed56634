// Major numbers of the character devices the simulated machines present
// (Documentation/admin-guide/devices.txt; media devices get a dynamic major, 237 as on most
// boards).
#pragma once

#include <string>

namespace Quarvel {
namespace sim {

constexpr unsigned kVideoMajor = 81;
constexpr unsigned kMediaMajor = 237;
constexpr unsigned kI2cMajor = 89;

// "<major>:<minor>", as sysfs names a device under /sys/dev/char and in its "dev" file.
inline std::string deviceNumber(unsigned major, unsigned minor) {
    return std::to_string(major) + ":" + std::to_string(minor);
}

}  // namespace sim
}  // namespace Quarvel
