// The routines that copy one dequeued V4L2 buffer into the caller's frame memory.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Quarvel {

// Copies the `sourceLength` bytes at `source` into `destination` (which holds
// `destinationCapacity` bytes) from the running write position *position, and advances it.
// Nothing is read at or past source + sourceLength, nothing written at or past
// destination + destinationCapacity. `width` is the frame width in samples.
// Thread contract: pure functions, callable from any thread.
using SubframeCopy = void (*)(const uint8_t* source, size_t sourceLength, uint8_t* destination,
                              size_t destinationCapacity, uint32_t width, size_t* position);

// The whole buffer as it is; *position counts bytes.
void copyPlain(const uint8_t* source, size_t sourceLength, uint8_t* destination,
               size_t destinationCapacity, uint32_t width, size_t* position);

// Lines of 480 bytes stored at a 512-byte stride (240 samples of 2 bytes per line, the
// driver padding each line to 512); *position counts bytes.
void copyLineStride(const uint8_t* source, size_t sourceLength, uint8_t* destination,
                    size_t destinationCapacity, uint32_t width, size_t* position);

// Blocks of 960 bytes holding two 480-byte pieces A and B of the image as A[0..447],
// B[0..447], A[448..479], B[448..479]; a shorter last block is copied as it is.
// *position counts bytes.
void copyBlockReorder(const uint8_t* source, size_t sourceLength, uint8_t* destination,
                      size_t destinationCapacity, uint32_t width, size_t* position);

// Packed 12-bit samples (two in three bytes, the high 8 bits of each first, then a byte with
// the low nibbles) in lines of width x 1.5 bytes padded to a multiple of 16 bytes, unpacked
// into 16-bit little-endian words. The last 8 bytes of the buffer are never read; a buffer
// of 8 bytes or fewer writes nothing. *position counts 16-bit samples.
void unpackY12P(const uint8_t* source, size_t sourceLength, uint8_t* destination,
                size_t destinationCapacity, uint32_t width, size_t* position);

}  // namespace Quarvel
