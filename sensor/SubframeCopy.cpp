// Plain, line-stride, block-reorder and packed-12-bit copies of one sub-frame.
#include "sensor/SubframeCopy.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "core/CpuLevelOverride.h"
#include "core/X86CpuFeatures.h"
#include "sensor/Y12PLines.h"

namespace Quarvel {

namespace {

constexpr size_t kLineStride = 512;
constexpr size_t kLineBytes = 480;
constexpr size_t kBlockBytes = 960;
constexpr size_t kBlockHead = 448;  // bytes of each piece stored first
constexpr size_t kBlockTail = 32;   // bytes of each piece stored at the block's end
constexpr size_t kY12PLineAlignment = 16;
constexpr size_t kY12PEndMargin = 8;

// Copies up to `length` bytes into the destination at *position; returns the bytes copied.
size_t copyBounded(const uint8_t* from, size_t length, uint8_t* destination,
                   size_t destinationCapacity, size_t* position) {
    if (*position >= destinationCapacity || length == 0) return 0;
    const size_t count = std::min(length, destinationCapacity - *position);
    std::memcpy(destination + *position, from, count);
    *position += count;
    return count;
}

#if defined(__x86_64__) && defined(__GNUC__)
// Fixed-size pieces as straight-line vector moves of kPiece bytes, the width of the build's
// registers (32 with AVX, 16 without: wider pieces went through the stack in the baseline
// build, 0.47 of memcpy). Left to itself the compiler copies a few hundred bytes with
// `rep movs` in the AVX2 build, which takes long to start on AMD CPUs and kept the block
// reorder at 0.3 of memcpy there; with no loop there is nothing to turn back into one (or
// into a memcpy call).
template <size_t kPiece>
inline void copyPiece(uint8_t* to, const uint8_t* from) {
    typedef uint8_t Piece __attribute__((vector_size(kPiece)));
    Piece piece;
    std::memcpy(&piece, from, sizeof piece);
    std::memcpy(to, &piece, sizeof piece);
}

template <size_t kPiece, size_t... kIndex>
inline void copyPieces(uint8_t* to, const uint8_t* from, std::index_sequence<kIndex...>) {
    (copyPiece<kPiece>(to + kPiece * kIndex, from + kPiece * kIndex), ...);
}

template <size_t kBytes, size_t kPiece>
inline void copyFixed(uint8_t* to, const uint8_t* from) {
    static_assert(kBytes % kPiece == 0, "whole pieces");
    copyPieces<kPiece>(to, from, std::make_index_sequence<kBytes / kPiece>{});
}
#else
// Elsewhere the library's memcpy (NEON where the CPU has it) is the fast way.
template <size_t kBytes, size_t>
inline void copyFixed(uint8_t* to, const uint8_t* from) {
    std::memcpy(to, from, kBytes);
}
#endif

}  // namespace

void copyPlain(const uint8_t* source, size_t sourceLength, uint8_t* destination,
               size_t destinationCapacity, uint32_t, size_t* position) {
    copyBounded(source, sourceLength, destination, destinationCapacity, position);
}

namespace {

// The two fixed-layout copies, inlined into one build per instruction set below, in pieces
// of kPiece bytes.
template <size_t kPiece>
__attribute__((always_inline)) inline void lineStrideBody(const uint8_t* source,
                                                          size_t sourceLength, uint8_t* destination,
                                                          size_t destinationCapacity,
                                                          size_t* position) {
    // Whole lines with room for them: a fixed-size copy in vector moves.
    size_t k = 0;
    size_t written = *position;
    for (; k + kLineBytes <= sourceLength && written + kLineBytes <= destinationCapacity;
         k += kLineStride) {
        copyFixed<kLineBytes, kPiece>(destination + written, source + k);
        written += kLineBytes;
    }
    *position = written;
    for (; k < sourceLength && *position < destinationCapacity; k += kLineStride) {
        copyBounded(source + k, std::min(kLineBytes, sourceLength - k), destination,
                    destinationCapacity, position);
    }
}

template <size_t kPiece>
__attribute__((always_inline)) inline void blockReorderBody(const uint8_t* source,
                                                            size_t sourceLength,
                                                            uint8_t* destination,
                                                            size_t destinationCapacity,
                                                            size_t* position) {
    size_t k = 0;
    for (; k + kBlockBytes <= sourceLength && *position < destinationCapacity; k += kBlockBytes) {
        const uint8_t* block = source + k;
        if (*position + kBlockBytes <= destinationCapacity) {
            // Room for the whole block: reorder straight into the destination.
            uint8_t* out = destination + *position;
            copyFixed<kBlockHead, kPiece>(out, block);
            copyFixed<kBlockTail, kPiece>(out + kBlockHead, block + 2 * kBlockHead);
            copyFixed<kBlockHead, kPiece>(out + kLineBytes, block + kBlockHead);
            copyFixed<kBlockTail, kPiece>(out + kLineBytes + kBlockHead,
                                          block + 2 * kBlockHead + kBlockTail);
            *position += kBlockBytes;
            continue;
        }
        uint8_t ordered[kBlockBytes];
        // Piece A: its head, then its tail from the end of the block.
        copyFixed<kBlockHead, kPiece>(ordered, block);
        copyFixed<kBlockTail, kPiece>(ordered + kBlockHead, block + 2 * kBlockHead);
        // Piece B: its head, then its tail, the block's last bytes.
        copyFixed<kBlockHead, kPiece>(ordered + kLineBytes, block + kBlockHead);
        copyFixed<kBlockTail, kPiece>(ordered + kLineBytes + kBlockHead,
                                      block + 2 * kBlockHead + kBlockTail);
        copyBounded(ordered, kBlockBytes, destination, destinationCapacity, position);
    }
    if (k < sourceLength) {
        copyBounded(source + k, sourceLength - k, destination, destinationCapacity, position);
    }
}

struct CopyBuild {
    const char* name;  // instruction-set level, as QUARVEL_CPU_LEVEL names it
    bool (*supported)();
    SubframeCopy lineStride;
    SubframeCopy blockReorder;
};

bool alwaysSupported() { return true; }

#define QUARVEL_COPY_BUILD(suffix, piece, attributes)                                              \
    attributes void lineStride##suffix(const uint8_t* source, size_t sourceLength,                 \
                                       uint8_t* destination, size_t destinationCapacity, uint32_t, \
                                       size_t* position) {                                         \
        lineStrideBody<piece>(source, sourceLength, destination, destinationCapacity, position);   \
    }                                                                                              \
    attributes void blockReorder##suffix(const uint8_t* source, size_t sourceLength,               \
                                         uint8_t* destination, size_t destinationCapacity,         \
                                         uint32_t, size_t* position) {                             \
        blockReorderBody<piece>(source, sourceLength, destination, destinationCapacity, position); \
    }

QUARVEL_COPY_BUILD(Baseline, 16, )
#if defined(__x86_64__) && defined(__GNUC__)
QUARVEL_COPY_BUILD(X86V4, 32, __attribute__((target("arch=x86-64-v4"))))
QUARVEL_COPY_BUILD(X86V3, 32, __attribute__((target("arch=x86-64-v3"))))
#endif

// Best first; the last runs anywhere.
const CopyBuild kCopyBuilds[] = {
#if defined(__x86_64__) && defined(__GNUC__)
    {"x86-64-v4", x86SupportsLevel4, lineStrideX86V4, blockReorderX86V4},
    {"x86-64-v3", x86SupportsLevel3, lineStrideX86V3, blockReorderX86V3},
#endif
    {"baseline", alwaysSupported, lineStrideBaseline, blockReorderBaseline},
};

// Chosen once, on first use (thread-safe), within QUARVEL_CPU_LEVEL.
const CopyBuild& selectedCopyBuild() {
    static const CopyBuild& chosen = []() -> const CopyBuild& {
        for (const CopyBuild& build : kCopyBuilds) {
            if (build.supported() && cpuLevelAllowed(build.name)) return build;
        }
        return kCopyBuilds[sizeof kCopyBuilds / sizeof kCopyBuilds[0] - 1];
    }();
    return chosen;
}

}  // namespace

void copyLineStride(const uint8_t* source, size_t sourceLength, uint8_t* destination,
                    size_t destinationCapacity, uint32_t width, size_t* position) {
    selectedCopyBuild().lineStride(source, sourceLength, destination, destinationCapacity, width,
                                   position);
}

void copyBlockReorder(const uint8_t* source, size_t sourceLength, uint8_t* destination,
                      size_t destinationCapacity, uint32_t width, size_t* position) {
    selectedCopyBuild().blockReorder(source, sourceLength, destination, destinationCapacity, width,
                                     position);
}

void unpackY12P(const uint8_t* source, size_t sourceLength, uint8_t* destination,
                size_t destinationCapacity, uint32_t width, size_t* position) {
    if (sourceLength <= kY12PEndMargin) return;
    const size_t lineBytes = static_cast<size_t>(width * 1.5);
    const size_t padding =
        (lineBytes + kY12PLineAlignment - 1) / kY12PLineAlignment * kY12PLineAlignment - lineBytes;
    const size_t sampleCapacity = destinationCapacity / 2;
    const size_t end = sourceLength - kY12PEndMargin;
    size_t s = 0;
    size_t o = *position;
    // Whole lines from a line start, each with its bytes before `end` and room for its
    // samples, in one call; the loop below then finishes exactly as it would have from here.
    if (width != 0 && width % 2 == 0 && lineBytes == width / 2 * 3 && o % width == 0 &&
        lineBytes <= end && o <= sampleCapacity) {
        const size_t stride = lineBytes + padding;
        const size_t fitInSource = (end - lineBytes) / stride + 1;
        const size_t fitInDestination = (sampleCapacity - o) / width;
        const size_t lines = std::min(fitInSource, fitInDestination);
        unpackY12PLines(source, stride, lines, width / 2, destination + 2 * o);
        s += lines * stride;
        o += lines * width;
    }
    while (s < end && o + 2 <= sampleCapacity) {
        const uint8_t b0 = source[s];
        const uint8_t b1 = source[s + 1];
        const uint8_t b2 = source[s + 2];
        const uint16_t first = static_cast<uint16_t>((b0 << 4) | (b2 & 0x0F));
        const uint16_t second = static_cast<uint16_t>((b1 << 4) | (b2 >> 4));
        uint8_t* out = destination + 2 * o;
        out[0] = static_cast<uint8_t>(first & 0xFF);
        out[1] = static_cast<uint8_t>(first >> 8);
        out[2] = static_cast<uint8_t>(second & 0xFF);
        out[3] = static_cast<uint8_t>(second >> 8);
        s += 3;
        o += 2;
        if (padding != 0 && width != 0 && o % width == 0) s += padding;
    }
    *position = o;
}

}  // namespace Quarvel
