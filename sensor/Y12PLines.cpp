// Y12P line unpacking: byte shuffles on the widest vectors the CPU has, chosen at load time.
#include "sensor/Y12PLines.h"

#include <cstring>

#include "core/CpuLevelOverride.h"
#include "core/X86CpuFeatures.h"

#if defined(__GNUC__) && defined(__ARM_FP) && \
    (defined(__aarch64__) || (defined(__arm__) && !defined(__clang__)))
#define QUARVEL_Y12P_NEON 1
#include <arm_neon.h>
#if defined(__arm__)
#include <asm/hwcap.h>
#include <sys/auxv.h>
// Debian's armhf baseline has no NEON: only the NEON build may use it, chosen when the
// kernel reports it.
#define QUARVEL_Y12P_NEON_TARGET __attribute__((target("fpu=neon")))
#else
#define QUARVEL_Y12P_NEON_TARGET
#endif
#endif

namespace Quarvel {

namespace {

// One pair at a time: the rule itself, for short lines and targets without vector shuffles
// (a loop the compiler still vectorises where it can).
inline void unpackPairs(const uint8_t* __restrict packed, uint8_t* __restrict out, size_t pairs) {
    for (size_t j = 0; j < pairs; ++j) {
        const uint8_t b0 = packed[3 * j];
        const uint8_t b1 = packed[3 * j + 1];
        const uint8_t b2 = packed[3 * j + 2];
        const uint16_t first = static_cast<uint16_t>((b0 << 4) | (b2 & 0x0F));
        const uint16_t second = static_cast<uint16_t>((b1 << 4) | (b2 >> 4));
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        std::memcpy(out + 4 * j, &first, sizeof first);
        std::memcpy(out + 4 * j + 2, &second, sizeof second);
#else
        out[4 * j] = static_cast<uint8_t>(first & 0xFF);
        out[4 * j + 1] = static_cast<uint8_t>(first >> 8);
        out[4 * j + 2] = static_cast<uint8_t>(second & 0xFF);
        out[4 * j + 3] = static_cast<uint8_t>(second >> 8);
#endif
    }
}

#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ && \
    (defined(__clang__) || __GNUC__ >= 12)
#define QUARVEL_Y12P_VECTORS 1

// The vector form, in the compiler's generic vectors (no instruction-set intrinsics): the
// bytes of each pair are shuffled into two 16-bit lanes, [b2, b0] and [b2, b1] (low byte
// first). Shifted right by 4 they read b0 << 4 | b2 >> 4 and b1 << 4 | b2 >> 4. The second
// is the second sample; the first sample is the first with its low nibble replaced by the
// unshifted lane's, b2 & 0x0F.
#define QUARVEL_Y12P_PAIR(c) (c) + 2, (c), (c) + 2, (c) + 1
#define QUARVEL_Y12P_BLOCK(b)                                                     \
    QUARVEL_Y12P_PAIR(b), QUARVEL_Y12P_PAIR((b) + 3), QUARVEL_Y12P_PAIR((b) + 6), \
        QUARVEL_Y12P_PAIR((b) + 9)

// Writes the samples of shuffled lanes to `out`. Vectors pass by pointer only: passing
// them by value would depend on the vector registers of the instruction set.
template <typename Words, typename Lanes>
__attribute__((always_inline)) inline void storeSamples(const Lanes& shuffled, uint8_t* out) {
    static_assert(sizeof(Words) == sizeof(Lanes), "the lanes fill the words");
    Words lanes;
    std::memcpy(&lanes, &shuffled, sizeof lanes);
    Words lowNibble{};
    for (size_t i = 0; i < sizeof(Words) / 2; i += 2) lowNibble[i] = 0x000F;
    const Words samples = (lanes & lowNibble) | ((lanes >> 4) & ~lowNibble);
    std::memcpy(out, &samples, sizeof samples);
}

// Chunks of 4, 8 and 16 pairs (16, 32 and 64 bytes out), each read as two overlapping
// halves that end exactly at the chunk's last byte.
struct Chunk16 {
    static constexpr size_t kPairs = 4;
    typedef uint8_t Half __attribute__((vector_size(8)));
    typedef uint16_t Words __attribute__((vector_size(16)));
    __attribute__((always_inline)) static void run(const uint8_t* packed, uint8_t* out) {
        Half low, high;  // bytes 0..7 and 4..11
        std::memcpy(&low, packed, sizeof low);
        std::memcpy(&high, packed + 4, sizeof high);
        // Pairs 0 and 1 from the low half, 2 and 3 from the high half (bytes 4..11 at 8..15).
        const auto lanes =
            __builtin_shufflevector(low, high, QUARVEL_Y12P_PAIR(0), QUARVEL_Y12P_PAIR(3),
                                    QUARVEL_Y12P_PAIR(10), QUARVEL_Y12P_PAIR(13));
        storeSamples<Words>(lanes, out);
    }
    // The same from one 16-byte load; reads packed[0, 16): only for chunks with 4 bytes of
    // their line after them.
    static constexpr size_t kReadBefore = 0;
    static constexpr size_t kReadAfter = 4;
    typedef uint8_t Whole __attribute__((vector_size(16)));
    __attribute__((always_inline)) static void runInside(const uint8_t* packed, uint8_t* out) {
        Whole bytes;
        std::memcpy(&bytes, packed, sizeof bytes);
        const auto lanes = __builtin_shufflevector(bytes, bytes, QUARVEL_Y12P_BLOCK(0));
        storeSamples<Words>(lanes, out);
    }
};

struct Chunk32 {
    static constexpr size_t kPairs = 8;
    typedef uint8_t Half __attribute__((vector_size(16)));
    typedef uint16_t Words __attribute__((vector_size(32)));
    __attribute__((always_inline)) static void run(const uint8_t* packed, uint8_t* out) {
        Half low, high;  // bytes 0..15 and 8..23
        std::memcpy(&low, packed, sizeof low);
        std::memcpy(&high, packed + 8, sizeof high);
        // Pairs 0..3 from the low half, 4..7 from the high half (bytes 8..23 at 16..31): each
        // 16-byte half of the result draws on one input half only.
        const auto lanes =
            __builtin_shufflevector(low, high, QUARVEL_Y12P_BLOCK(0), QUARVEL_Y12P_BLOCK(20));
        storeSamples<Words>(lanes, out);
    }
    // The same from one 32-byte load that starts 4 bytes before the chunk, so that each
    // 16-byte half of the load holds the 12 bytes its half of the result needs: one load and
    // one in-lane byte shuffle instead of two loads, a lane insert and the shuffle. Reads
    // packed[-4, 28): only for chunks with 4 bytes of their line on either side.
    static constexpr size_t kReadBefore = 4;
    static constexpr size_t kReadAfter = 4;
    typedef uint8_t Whole __attribute__((vector_size(32)));
    __attribute__((always_inline)) static void runInside(const uint8_t* packed, uint8_t* out) {
        Whole bytes;
        std::memcpy(&bytes, packed - kReadBefore, sizeof bytes);
        const auto lanes =
            __builtin_shufflevector(bytes, bytes, QUARVEL_Y12P_BLOCK(4), QUARVEL_Y12P_BLOCK(16));
        storeSamples<Words>(lanes, out);
    }
};

struct Chunk64 {
    static constexpr size_t kPairs = 16;
    typedef uint32_t HalfWords __attribute__((vector_size(32)));
    typedef uint8_t Bytes __attribute__((vector_size(64)));
    typedef uint16_t Words __attribute__((vector_size(64)));
    __attribute__((always_inline)) static void run(const uint8_t* packed, uint8_t* out) {
        HalfWords low, high;  // 32-bit words 0..7 and 4..11
        std::memcpy(&low, packed, sizeof low);
        std::memcpy(&high, packed + 16, sizeof high);
        // First the 12 bytes of pairs 4k..4k+3 into 16-byte block k (words 3k..3k+2, the
        // high half's word w at index w + 4), then the pairs within each block.
        const auto words = __builtin_shufflevector(low, high, 0, 1, 2, 2, 3, 4, 5, 5, 6, 7, 12, 12,
                                                   13, 14, 15, 15);
        Bytes bytes;
        std::memcpy(&bytes, &words, sizeof bytes);
        const auto lanes =
            __builtin_shufflevector(bytes, bytes, QUARVEL_Y12P_BLOCK(0), QUARVEL_Y12P_BLOCK(16),
                                    QUARVEL_Y12P_BLOCK(32), QUARVEL_Y12P_BLOCK(48));
        storeSamples<Words>(lanes, out);
    }
};

// Each line in whole chunks; a line that is not a whole number of chunks ends with one more
// chunk that overlaps the previous one and writes the same bytes again.
template <typename Chunk>
__attribute__((always_inline)) inline void unpackLinesWith(const uint8_t* packed, size_t stride,
                                                           size_t lines, size_t pairs,
                                                           uint8_t* out) {
    constexpr size_t n = Chunk::kPairs;
    for (size_t k = 0; k < lines; ++k) {
        const uint8_t* line = packed + k * stride;
        uint8_t* target = out + k * 4 * pairs;
        if (pairs < n) {
            unpackPairs(line, target, pairs);
            continue;
        }
        size_t j = 0;
        for (; j + n <= pairs; j += n) Chunk::run(line + 3 * j, target + 4 * j);
        if (j < pairs) Chunk::run(line + 3 * (pairs - n), target + 4 * (pairs - n));
    }
}

// As unpackLinesWith, for chunks that also have a form reading a few bytes on either side
// (runInside): the first and the last chunks of a line take the exact form, the ones between
// the wider one, four per round (fewer rounds per line: the 240-sample lines of the small
// sensor have 15 chunks). Lines go one after the other: two lines side by side were faster
// from the cache but slower from memory, where a frame's buffer comes from.
template <typename Chunk>
__attribute__((always_inline)) inline void unpackLinesInside(const uint8_t* packed, size_t stride,
                                                             size_t lines, size_t pairs,
                                                             uint8_t* out) {
    constexpr size_t n = Chunk::kPairs;
    static_assert(3 * n >= Chunk::kReadBefore, "the first chunk covers what the next reads before");
    const size_t lineBytes = 3 * pairs;
    for (size_t k = 0; k < lines; ++k) {
        const uint8_t* line = packed + k * stride;
        uint8_t* target = out + k * 4 * pairs;
        if (pairs < n) {
            unpackPairs(line, target, pairs);
            continue;
        }
        Chunk::run(line, target);
        size_t j = n;
        // Chunks [j, j + 4n) whose reads end within the line.
        for (; 3 * (j + 4 * n) + Chunk::kReadAfter <= lineBytes; j += 4 * n) {
            Chunk::runInside(line + 3 * j, target + 4 * j);
            Chunk::runInside(line + 3 * (j + n), target + 4 * (j + n));
            Chunk::runInside(line + 3 * (j + 2 * n), target + 4 * (j + 2 * n));
            Chunk::runInside(line + 3 * (j + 3 * n), target + 4 * (j + 3 * n));
        }
        for (; 3 * (j + n) + Chunk::kReadAfter <= lineBytes; j += n) {
            Chunk::runInside(line + 3 * j, target + 4 * j);
        }
        for (; j + n <= pairs; j += n) Chunk::run(line + 3 * j, target + 4 * j);
        if (j < pairs) Chunk::run(line + 3 * (pairs - n), target + 4 * (pairs - n));
    }
}
#endif

bool alwaysSupported() { return true; }

#if defined(QUARVEL_Y12P_VECTORS) && (defined(__aarch64__) || defined(__ARM_NEON))
// 128-bit vectors with a byte table lookup (NEON).
void unpackBaselineLines(const uint8_t* packed, size_t stride, size_t lines, size_t pairs,
                         uint8_t* out) {
    unpackLinesWith<Chunk16>(packed, stride, lines, pairs, out);
}
#else
// Plain x86-64 has no byte shuffle instruction, 32-bit ARM without NEON no vectors.
void unpackBaselineLines(const uint8_t* packed, size_t stride, size_t lines, size_t pairs,
                         uint8_t* out) {
    for (size_t k = 0; k < lines; ++k) unpackPairs(packed + k * stride, out + k * 4 * pairs, pairs);
}
#endif

#if defined(QUARVEL_Y12P_NEON)
bool neonSupported() {
#if defined(__arm__)
    return (getauxval(AT_HWCAP) & HWCAP_NEON) != 0;
#else
    return true;
#endif
}

// 16 pairs (48 bytes in, 64 out). The three-way deinterleaving load hands over the bytes b0,
// b1, b2 of the pairs in three vectors; the four bytes each pair becomes are
// b0 << 4 | b2 & 0x0F, b0 >> 4, b1 << 4 | b2 >> 4 and b1 >> 4 (two little-endian words), each a
// shift or a shift-and-insert of whole vectors, and the four-way interleaving store writes them.
QUARVEL_Y12P_NEON_TARGET inline void unpackNeon16Pairs(const uint8_t* packed, uint8_t* out) {
    const uint8x16x3_t bytes = vld3q_u8(packed);
    uint8x16x4_t samples;
    samples.val[0] = vsliq_n_u8(bytes.val[2], bytes.val[0], 4);
    samples.val[1] = vshrq_n_u8(bytes.val[0], 4);
    samples.val[2] = vsliq_n_u8(vshrq_n_u8(bytes.val[2], 4), bytes.val[1], 4);
    samples.val[3] = vshrq_n_u8(bytes.val[1], 4);
    vst4q_u8(out, samples);
}

// As unpackLinesWith: whole chunks, then one overlapping chunk for the rest of a line.
QUARVEL_Y12P_NEON_TARGET void unpackNeonLines(const uint8_t* packed, size_t stride, size_t lines,
                                              size_t pairs, uint8_t* out) {
    constexpr size_t n = 16;
    for (size_t k = 0; k < lines; ++k) {
        const uint8_t* line = packed + k * stride;
        uint8_t* target = out + k * 4 * pairs;
        if (pairs < n) {
            unpackPairs(line, target, pairs);
            continue;
        }
        size_t j = 0;
        for (; j + n <= pairs; j += n) unpackNeon16Pairs(line + 3 * j, target + 4 * j);
        if (j < pairs) unpackNeon16Pairs(line + 3 * (pairs - n), target + 4 * (pairs - n));
    }
}
#endif

#if defined(QUARVEL_Y12P_VECTORS) && defined(__x86_64__) && defined(__GNUC__)
#define QUARVEL_Y12P_X86_VARIANTS 1
// The widest vectors of each x86-64 level: 512, 256 and 128 bits (the level 2 byte shuffle
// is SSSE3's).
__attribute__((target("arch=x86-64-v4"))) void unpackX86V4Lines(const uint8_t* packed,
                                                                size_t stride, size_t lines,
                                                                size_t pairs, uint8_t* out) {
    unpackLinesWith<Chunk64>(packed, stride, lines, pairs, out);
}

__attribute__((target("arch=x86-64-v3"))) void unpackX86V3Lines(const uint8_t* packed,
                                                                size_t stride, size_t lines,
                                                                size_t pairs, uint8_t* out) {
    unpackLinesInside<Chunk32>(packed, stride, lines, pairs, out);
}

__attribute__((target("arch=x86-64-v2"))) void unpackX86V2Lines(const uint8_t* packed,
                                                                size_t stride, size_t lines,
                                                                size_t pairs, uint8_t* out) {
    unpackLinesInside<Chunk16>(packed, stride, lines, pairs, out);
}
#endif

const Y12PLinesVariant kVariants[] = {
#if defined(QUARVEL_Y12P_X86_VARIANTS)
    {"x86-64-v4", x86SupportsLevel4, unpackX86V4Lines},
    {"x86-64-v3", x86SupportsLevel3, unpackX86V3Lines},
    {"x86-64-v2", x86SupportsLevel2, unpackX86V2Lines},
#endif
#if defined(QUARVEL_Y12P_NEON)
    {"neon", neonSupported, unpackNeonLines},
#endif
    {"baseline", alwaysSupported, unpackBaselineLines},
};

const Y12PLinesVariant& selectedVariant() {
    static const Y12PLinesVariant& chosen = []() -> const Y12PLinesVariant& {
        for (const Y12PLinesVariant& variant : kVariants) {
            if (variant.supported() && cpuLevelAllowed(variant.name)) return variant;
        }
        return kVariants[sizeof kVariants / sizeof kVariants[0] - 1];
    }();
    return chosen;
}

}  // namespace

const Y12PLinesVariant* y12pLinesVariants(size_t* count) {
    if (count != nullptr) *count = sizeof kVariants / sizeof kVariants[0];
    return kVariants;
}

void unpackY12PLines(const uint8_t* packed, size_t stride, size_t lines, size_t pairs,
                     uint8_t* out) {
    selectedVariant().run(packed, stride, lines, pairs, out);
}

}  // namespace Quarvel
