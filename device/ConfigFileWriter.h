// Writes the phase library's default configuration files into the working directory.
#pragma once

#include "device/FileWriteCalls.h"

namespace Quarvel {

// Writes "ConfigAlgorithm.json", "ConfigCamera.json" and "register.json" into the current
// working directory, each with its constant text. Each text goes first to a fresh
// temporary file beside its name (created exclusively, never through a link), every
// write and the close are checked, and only when all three are complete are they renamed
// over the names: a link planted under a name is replaced, never written through, and a
// failure (full disk, I/O error, read-only or foreign directory) leaves the old files in
// place and no temporary file behind. True when all three were replaced. Caller's thread;
// takes no lock.
bool writeDefaultConfigFiles(FileWriteCalls& calls = productionFileWriteCalls());

}  // namespace Quarvel
