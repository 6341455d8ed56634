// Major numbers of the character devices the simulated machines present
// (Documentation/admin-guide/devices.txt; media devices get a dynamic major, 237 as on most
// boards).
#pragma once

namespace Quarvel {
namespace sim {

constexpr unsigned kVideoMajor = 81;
constexpr unsigned kMediaMajor = 237;
constexpr unsigned kI2cMajor = 89;

}  // namespace sim
}  // namespace Quarvel
