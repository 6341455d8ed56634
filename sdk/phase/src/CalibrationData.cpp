// Calibration file decoding: every header field and every value checked before use.
#include "sdk/phase/src/CalibrationData.h"

#include <cmath>
#include <cstring>

#include "sdk/phase/si4c_calibration_format.h"
#include "sdk/phase/si4c_raw_layout.h"

namespace si4c {

namespace {

uint32_t readLe32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
           static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

float readLeFloat(const uint8_t* at) {
    const uint32_t bits = readLe32(at);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

}  // namespace

float calibrationTableRangeMm(int table) {
    switch (table) {
        case SI4C_CALIBRATION_TABLE_SINGLE:
            return SI4C_RANGE_SINGLE_MM;
        case SI4C_CALIBRATION_TABLE_DUAL_FIRST:
            return SI4C_RANGE_DUAL_FIRST_MM;
        case SI4C_CALIBRATION_TABLE_DUAL_SECOND:
            return SI4C_RANGE_DUAL_SECOND_MM;
        default:
            return 0.0f;
    }
}

bool decodeCalibration(const uint8_t* data, size_t length, int width, int height, float* tables,
                       size_t tableCapacity) {
    if (data == nullptr || tables == nullptr || width <= 0 || height <= 0) return false;
    if (length < SI4C_CALIBRATION_HEADER_BYTES) return false;
    if (std::memcmp(data, SI4C_CALIBRATION_MAGIC, SI4C_CALIBRATION_MAGIC_BYTES) != 0) {
        return false;
    }
    if (readLe32(data + SI4C_CALIBRATION_AT_VERSION) != SI4C_CALIBRATION_VERSION ||
        readLe32(data + SI4C_CALIBRATION_AT_HEADER_BYTES) != SI4C_CALIBRATION_HEADER_BYTES ||
        readLe32(data + SI4C_CALIBRATION_AT_WIDTH) != static_cast<uint32_t>(width) ||
        readLe32(data + SI4C_CALIBRATION_AT_HEIGHT) != static_cast<uint32_t>(height) ||
        readLe32(data + SI4C_CALIBRATION_AT_TABLE_COUNT) != SI4C_CALIBRATION_TABLES) {
        return false;
    }
    const uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    const uint64_t values = pixels * SI4C_CALIBRATION_TABLES;
    const uint64_t payloadBytes = values * sizeof(float);
    if (readLe32(data + SI4C_CALIBRATION_AT_PAYLOAD_BYTES) != payloadBytes) return false;
    if (static_cast<uint64_t>(length) != SI4C_CALIBRATION_HEADER_BYTES + payloadBytes) {
        return false;
    }
    if (values > tableCapacity) return false;

    const uint8_t* payload = data + SI4C_CALIBRATION_HEADER_BYTES;
    for (int table = 0; table < SI4C_CALIBRATION_TABLES; ++table) {
        const float range = calibrationTableRangeMm(table);
        const uint8_t* at = payload + static_cast<size_t>(table) * pixels * sizeof(float);
        for (uint64_t i = 0; i < pixels; ++i, at += sizeof(float)) {
            const float offset = readLeFloat(at);
            if (!std::isfinite(offset) || std::fabs(offset) >= range) return false;
        }
    }
    for (uint64_t i = 0; i < values; ++i) {
        tables[i] = readLeFloat(payload + i * sizeof(float));
    }
    return true;
}

}  // namespace si4c
