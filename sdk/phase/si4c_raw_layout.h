/* Raw frame layout of the 640x480 (VGA) sensor as the phase library reads it.
 *
 * Geometry only: the simulated VGA sensor writes frames in this layout and the stand-in
 * phase library reads them; neither side shares any other code.
 *
 * A raw frame is n blocks, n = 5 in single-frequency mode and 10 in dual-frequency mode.
 * Each block is (height + 1) lines of `width` samples; a sample is a 16-bit little-endian
 * word holding a 12-bit value (0..4095) in its low bits.
 *
 *   line 0 of a block      embedded data line (fields below, rest of the line 0)
 *   lines 1 .. height      the block's image, row-major
 *
 * Blocks of one modulation frequency come together, five per frequency:
 *   block 5f + k, k = 0..3  correlation sample at phase step k x 90 degrees:
 *                           C_k = offset + A cos(phi + k pi / 2), phi = 4 pi f d / c
 *   block 5f + 4            grey image (active brightness plus ambient, no modulation phase)
 * where f = 0 is the first (or only) frequency and f = 1 the second.
 *
 * Modulation frequencies are given by their unambiguous range c / (2 f) in millimetres,
 * with c = 3e8 m/s: single frequency 1250 mm (120 MHz); dual frequency 1500 mm (100 MHz)
 * and 2250 mm (66.7 MHz), which together reach 4500 mm.
 */
#ifndef SI4C_RAW_LAYOUT_H
#define SI4C_RAW_LAYOUT_H

#ifdef __cplusplus
extern "C" {
#endif

enum {
    SI4C_BLOCKS_PER_FREQUENCY = 5,
    SI4C_BLOCKS_SINGLE_FREQUENCY = 5,
    SI4C_BLOCKS_DUAL_FREQUENCY = 10,
    SI4C_EMBEDDED_LINES = 1,
    SI4C_SAMPLE_MAX = 4095,

    /* Block kinds, as written in the embedded line. */
    SI4C_BLOCK_PHASE_0 = 0,
    SI4C_BLOCK_PHASE_90 = 1,
    SI4C_BLOCK_PHASE_180 = 2,
    SI4C_BLOCK_PHASE_270 = 3,
    SI4C_BLOCK_GREY = 4,

    /* Sample positions within the embedded data line. */
    SI4C_EMBEDDED_BLOCK_KIND = 0,          /* one of SI4C_BLOCK_* */
    SI4C_EMBEDDED_FREQUENCY_INDEX = 1,     /* 0 or 1 */
    SI4C_EMBEDDED_UNAMBIGUOUS_RANGE_MM = 2, /* c / (2 f) of this block's frequency */
    SI4C_EMBEDDED_FRAME_COUNTER = 3,       /* low 12 bits of the sensor's frame count */

    /* Unambiguous ranges of the modulation frequencies, millimetres. */
    SI4C_RANGE_SINGLE_MM = 1250,
    SI4C_RANGE_DUAL_FIRST_MM = 1500,
    SI4C_RANGE_DUAL_SECOND_MM = 2250,
    SI4C_RANGE_DUAL_COMBINED_MM = 4500
};

/* Lines of a whole raw frame of `blocks` blocks over an image of `height` lines. */
#define SI4C_RAW_LINES(height, blocks) (((height) + SI4C_EMBEDDED_LINES) * (blocks))

#ifdef __cplusplus
}
#endif

#endif /* SI4C_RAW_LAYOUT_H */
