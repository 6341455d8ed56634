// The process-wide simulated boards behind QUARVEL_SIMULATED_BOARD.
#pragma once

#include <string>

#include "sim/kernel/SimBoard.h"

namespace Quarvel {
namespace sim {

// The board named "<board>:<sensor>[+<fault>...]" (boards as SimBoard::named takes them,
// sensors "hqvga" or "vga", without a sensor "hqvga"; faults as SimBoard::faultNamed takes
// them, for example "pi5:hqvga+i2c-denied"), built paced on first use and kept for the life
// of the process; null for an unknown name. Thread-safe.
SimBoard* simulatedBoard(const std::string& name);

}  // namespace sim
}  // namespace Quarvel

// The entry point the camera looks up when the variable is set (sensor/SimulatedBoardSwitch.h):
// the board's Quarvel::SystemCalls, or null for an unknown name.
extern "C" void* quarvel_simulated_system_calls(const char* boardAndSensor);
