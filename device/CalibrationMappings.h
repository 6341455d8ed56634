// Calibration files mapped for the phase library, kept until the instance that got them is gone.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <ctime>
#include <memory>
#include <vector>

namespace Quarvel {

// Owns every mapping handed to one phase-library instance, each with its open descriptor.
// The library may keep pointing into a mapping, so nothing is released before the device
// has destroyed the instance. Caller's thread only.
class CalibrationMappings {
public:
    // Bytes handed to the library; data is null when there is nothing to hand over.
    struct View {
        const void* data = nullptr;
        size_t size = 0;
    };

    CalibrationMappings() = default;
    ~CalibrationMappings() = default;
    CalibrationMappings(const CalibrationMappings&) = delete;
    CalibrationMappings& operator=(const CalibrationMappings&) = delete;

    // Maps the whole file at `path` read-only and shared. A file that is missing, empty or
    // cannot be mapped gives an empty view (and leaves no descriptor open). When the newest
    // mapping is of the same, unchanged file (device, inode, size, modification time), it
    // is handed out again instead of mapping the file once more: repeated starts do not
    // use up address space.
    View map(const char* path);

    // Unmaps everything and closes the descriptors. Only after the library instance that
    // received the mappings has been destroyed.
    void releaseAll();

    size_t count() const { return mappings.size(); }

private:
    struct Mapping;
    struct MappingDeleter {
        void operator()(Mapping* mapping) const;
    };
    std::vector<std::unique_ptr<Mapping, MappingDeleter>> mappings;
};

}  // namespace Quarvel
