// Every Y12P line build reads nothing before a line's first byte nor after its last: lines
// placed right after and right before pages that cannot be read, at every chunk rest.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "sensor/Y12PLines.h"

using namespace Quarvel;

namespace {

// `pages` readable pages between two pages that fault when touched.
class FencedPages {
public:
    explicit FencedPages(size_t pages)
        : page(static_cast<size_t>(sysconf(_SC_PAGESIZE))), length((pages + 2) * page) {
        void* mapped =
            mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        region = mapped == MAP_FAILED ? nullptr : static_cast<uint8_t*>(mapped);
        if (region != nullptr) {
            fenced = mprotect(region, page, PROT_NONE) == 0 &&
                     mprotect(region + length - page, page, PROT_NONE) == 0;
        }
    }
    ~FencedPages() {
        if (region != nullptr) munmap(region, length);
    }
    FencedPages(const FencedPages&) = delete;
    FencedPages& operator=(const FencedPages&) = delete;

    bool ready() const { return region != nullptr && fenced; }
    uint8_t* first() const { return region + page; }         // first readable byte
    uint8_t* end() const { return region + length - page; }  // one past the last

private:
    size_t page;
    size_t length;
    uint8_t* region = nullptr;
    bool fenced = false;
};

// The plain rule, one pair at a time.
void unpackPlain(const uint8_t* packed, size_t stride, size_t lines, size_t pairs, uint8_t* out) {
    for (size_t k = 0; k < lines; ++k) {
        const uint8_t* line = packed + k * stride;
        for (size_t j = 0; j < pairs; ++j) {
            const unsigned first = (line[3 * j] << 4) | (line[3 * j + 2] & 0x0F);
            const unsigned second = (line[3 * j + 1] << 4) | (line[3 * j + 2] >> 4);
            uint8_t* sample = out + 4 * (k * pairs + j);
            sample[0] = static_cast<uint8_t>(first & 0xFF);
            sample[1] = static_cast<uint8_t>(first >> 8);
            sample[2] = static_cast<uint8_t>(second & 0xFF);
            sample[3] = static_cast<uint8_t>(second >> 8);
        }
    }
}

}  // namespace

TEST(TransportFastPaths, Y12PUnpackReadsOnlyTheLinesBytesInEveryBuild) {
    constexpr size_t kMaxPairs = 100;  // every rest of 4-, 8- and 16-pair chunks, several rounds
    constexpr size_t kGap = 4;         // bytes between lines
    FencedPages pages(2);
    ASSERT_TRUE(pages.ready());
    ASSERT_GE(static_cast<size_t>(pages.end() - pages.first()), 2 * (3 * kMaxPairs + kGap));

    size_t count = 0;
    const Y12PLinesVariant* variants = y12pLinesVariants(&count);
    int tested = 0;
    for (size_t v = 0; v < count; ++v) {
        if (!variants[v].supported()) continue;
        ++tested;
        for (size_t pairs = 1; pairs <= kMaxPairs; ++pairs) {
            for (size_t lines : {1ul, 2ul}) {
                const size_t stride = 3 * pairs + kGap;
                const size_t span = (lines - 1) * stride + 3 * pairs;
                // The first line flush against the page before, then the last line flush
                // against the page after: a read outside the lines faults.
                for (uint8_t* packed : {pages.first(), pages.end() - span}) {
                    for (size_t i = 0; i < span; ++i) {
                        packed[i] = static_cast<uint8_t>(i * 37 + pairs * 11 + lines);
                    }
                    std::vector<uint8_t> expected(4 * pairs * lines + 8, 0xEE);
                    std::vector<uint8_t> actual(expected.size(), 0xEE);
                    unpackPlain(packed, stride, lines, pairs, expected.data());
                    variants[v].run(packed, stride, lines, pairs, actual.data());
                    ASSERT_EQ(actual, expected)
                        << variants[v].name << " pairs " << pairs << " lines " << lines
                        << (packed == pages.first() ? " at the start" : " at the end");
                }
            }
        }
    }
    EXPECT_GE(tested, 1);
}
