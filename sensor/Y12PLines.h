// Whole lines of packed 12-bit (Y12P) samples unpacked into 16-bit words.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Quarvel {

// Unpacks `lines` lines of `pairs` sample pairs. Line k is read from
// packed[k * stride .. k * stride + 3 * pairs) and written to
// out[k * 4 * pairs .. (k + 1) * 4 * pairs); nothing else is read or written. A pair is
// three bytes: the high 8 bits of the first sample, those of the second, then a byte with
// the second's low nibble above the first's; each sample becomes a little-endian word.
// Thread contract: pure functions, callable from any thread.
using Y12PLinesFunction = void (*)(const uint8_t* packed, size_t stride, size_t lines, size_t pairs,
                                   uint8_t* out);

// One build of the line unpacking for one instruction set; all give the same bytes.
struct Y12PLinesVariant {
    const char* name;       // e.g. "x86-64-v4"
    bool (*supported)();    // true when this CPU can run it
    Y12PLinesFunction run;  // callable only when supported() is true
};

// Every build in this library, best first; the last one runs anywhere. Thread-safe.
const Y12PLinesVariant* y12pLinesVariants(size_t* count);

// Unpacks with the best build this CPU supports (chosen once, on first use).
void unpackY12PLines(const uint8_t* packed, size_t stride, size_t lines, size_t pairs,
                     uint8_t* out);

}  // namespace Quarvel
