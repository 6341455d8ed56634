// Validation and decoding of a calibration file image ("cali.bin").
#pragma once

#include <cstddef>
#include <cstdint>

namespace si4c {

// Unambiguous range of the frequency each calibration table belongs to, millimetres.
float calibrationTableRangeMm(int table);

// Checks `length` bytes at `data` against the calibration format for a width x height
// image and, when everything matches, decodes the offset tables into `tables`
// (SI4C_CALIBRATION_TABLES x width x height floats, capacity given in `tableCapacity`
// floats) and returns true. On any mismatch returns false with `tables` untouched.
// Never reads outside data[0 .. length).
bool decodeCalibration(const uint8_t* data, size_t length, int width, int height, float* tables,
                       size_t tableCapacity);

}  // namespace si4c
