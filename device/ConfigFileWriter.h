// Writes the phase library's default configuration files into the working directory.
#pragma once

namespace Quarvel {

// Writes "ConfigAlgorithm.json", "ConfigCamera.json" and "register.json", in this order,
// into the current working directory, each truncated and overwritten with its constant
// text. Stops at the first file that cannot be opened and returns false (earlier files stay
// written, later ones untouched); true once all three were opened. A failing write after a
// successful open does not change the result. Caller's thread; takes no lock.
bool writeDefaultConfigFiles();

}  // namespace Quarvel
