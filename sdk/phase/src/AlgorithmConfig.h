// Algorithm parameters of the phase library and the reader of "ConfigAlgorithm.json".
#pragma once

#include <cstddef>
#include <string>

namespace si4c {

// Every field starts at its documented default, which is also the value of the default
// configuration text the camera writes.
struct AlgorithmParams {
    // [DenoisingParams]: levels 0..9 (0 = off), methods 0 (off) or 1 (on).
    int temporalDepthLevel = 3;   // TDenoiseLevel_Depth
    int spatialDepthLevel = 3;    // SDenoiseLevel_Depth
    int temporalDepthMethod = 1;  // TDenoiseMethod_Depth
    int spatialDepthMethod = 1;   // SDenoiseMethod_Depth
    int temporalGrayLevel = 1;    // TDenoiseLevel_Gray
    int spatialGrayLevel = 1;     // SDenoiseLevel_Gray
    int temporalGrayMethod = 1;   // TDenoiseMethod_Gray
    int spatialGrayMethod = 1;    // SDenoiseMethod_Gray
    // [RepairParams]: 0..9; read and kept, not applied by this library.
    int repairLevel = 3;  // ERDOLvl
    // [ConfidenceParams]: millimetres, 0..100000, min <= max.
    float validDistMinMm = 0.0f;     // ValidDistMin
    float validDistMaxMm = 7000.0f;  // ValidDistMax
    // Pixels whose confidence is below this get depth 0; 0..1.
    float confidenceThreshold = 0.25f;  // ConfidenceThreshold
};

constexpr const char* kAlgorithmFileName = "ConfigAlgorithm.json";
// A larger file is not a configuration file: it is ignored whole.
constexpr size_t kMaxConfigBytes = 64 * 1024;

// Overlays `params` with the entries of a configuration text of `length` bytes. Lines are
// key=value (blanks around key and value ignored, CR before LF ignored); section headers,
// comments ("//", "#", ";"), unknown keys and malformed or out-of-range values are skipped,
// leaving that parameter as it was. A valid-distance range that ends up with min > max
// returns both bounds to their defaults.
void applyAlgorithmText(const char* text, size_t length, AlgorithmParams& params);

// Reads the file at `path` (at most kMaxConfigBytes) and applies it. False, with `params`
// untouched, when it cannot be read or is too large.
bool applyAlgorithmFile(const std::string& path, AlgorithmParams& params);

}  // namespace si4c
