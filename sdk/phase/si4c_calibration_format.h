/* Binary format of the phase library's calibration file "cali.bin".
 *
 * All fields little-endian. A 32-byte header:
 *
 *   offset  size  field
 *        0     8  magic          "SI4CCAL1" (no terminating NUL)
 *        8     4  version        SI4C_CALIBRATION_VERSION
 *       12     4  header bytes   SI4C_CALIBRATION_HEADER_BYTES (offset of the first table)
 *       16     4  width          pixels per line; must equal the width given to SiSDKInit
 *       20     4  height         lines; must equal the height given to SiSDKInit
 *       24     4  table count    SI4C_CALIBRATION_TABLES
 *       28     4  payload bytes  table count x width x height x 4
 *
 * followed by the tables, one per modulation frequency in the order of
 * SI4C_CALIBRATION_TABLE_*: width x height IEEE-754 float32 values each, row-major.
 * A value is the distance offset of that pixel in millimetres at that frequency: the
 * library subtracts it from the distance measured at that frequency before unwrapping.
 * Every value must be finite and smaller in magnitude than the frequency's unambiguous
 * range. The file is exactly header bytes + payload bytes long.
 *
 * A file that breaks any of these rules is ignored as a whole.
 */
#ifndef SI4C_CALIBRATION_FORMAT_H
#define SI4C_CALIBRATION_FORMAT_H

#ifdef __cplusplus
extern "C" {
#endif

#define SI4C_CALIBRATION_MAGIC "SI4CCAL1"

enum {
    SI4C_CALIBRATION_MAGIC_BYTES = 8,
    SI4C_CALIBRATION_VERSION = 1,
    SI4C_CALIBRATION_HEADER_BYTES = 32,
    SI4C_CALIBRATION_TABLES = 3,

    SI4C_CALIBRATION_TABLE_SINGLE = 0,      /* the 1250 mm frequency */
    SI4C_CALIBRATION_TABLE_DUAL_FIRST = 1,  /* the 1500 mm frequency */
    SI4C_CALIBRATION_TABLE_DUAL_SECOND = 2, /* the 2250 mm frequency */

    /* Byte offsets of the header fields. */
    SI4C_CALIBRATION_AT_VERSION = 8,
    SI4C_CALIBRATION_AT_HEADER_BYTES = 12,
    SI4C_CALIBRATION_AT_WIDTH = 16,
    SI4C_CALIBRATION_AT_HEIGHT = 20,
    SI4C_CALIBRATION_AT_TABLE_COUNT = 24,
    SI4C_CALIBRATION_AT_PAYLOAD_BYTES = 28
};

#ifdef __cplusplus
}
#endif

#endif /* SI4C_CALIBRATION_FORMAT_H */
