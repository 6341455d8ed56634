// The sub-frame copy routines at their edges: never a byte read or written outside the
// source or the destination. (Their output on each board's real layout is checked byte for
// byte end to end; their output at every size against plain rules in the fast-path tests.)
#include <gtest/gtest.h>

#include <cstring>

#include "sensor/SubframeCopy.h"
#include "tests/csi/CsiTestSupport.h"

using namespace Quarvel;
using csitest::GuardedBuffer;

// Source and destination both end at an inaccessible page: a routine that reads or writes a
// byte too far crashes instead of passing. Each case says where the routine starts and must
// stop, and which destination bytes must be which source bytes.
TEST(CopyBounds, NoRoutineReadsOrWritesPastItsSourceOrDestination) {
    struct Same {
        size_t destination, source, count;
    };
    const struct {
        const char* what;
        SubframeCopy routine;
        size_t sourceLength, destinationLength, width, start, end;
        std::vector<Same> same;
    } cases[] = {
        {"plain, whole buffer", copyPlain, 1000, 3000, 240, 1000, 2000, {{1000, 0, 1000}}},
        {"plain, buffer past the frame end", copyPlain, 5000, 4096, 240, 4000, 4096,
         {{4000, 0, 96}}},
        {"plain, frame already full", copyPlain, 5000, 4096, 240, 4096, 4096, {}},
        {"line stride, partial line", copyLineStride, 612, 2000, 240, 0, 580,
         {{0, 0, 480}, {480, 512, 100}}},
        {"line stride, frame full mid-line", copyLineStride, 92160, 1000, 240, 0, 1000,
         {{0, 0, 480}, {480, 512, 480}, {960, 1024, 40}}},
        // Like a 640 x 2405 frame: whole blocks, then a tail copied as it is.
        {"block, length not a multiple of 960", copyBlockReorder, 2560, 2560, 640, 0, 2560,
         {{0, 0, 448}, {1920, 1920, 640}}},
        {"block, destination shorter than a block", copyBlockReorder, 960, 700, 640, 0, 700,
         {{0, 0, 448}, {448, 896, 32}}},
        // Positions of the packed 12-bit unpacking count samples.
        {"Y12P, destination shorter than the buffer", unpackY12P, 1472, 100, 240, 0, 50, {}},
        // Lines of 3 bytes padded to 16: after the first line the skip lands past the end.
        {"Y12P, padding past the end", unpackY12P, 12, 200, 2, 0, 2, {}},
        {"Y12P, 9 bytes", unpackY12P, 9, 64, 240, 0, 2, {}},
        {"Y12P, 8 bytes or fewer", unpackY12P, 8, 64, 240, 0, 0, {}},
        {"Y12P, empty", unpackY12P, 0, 64, 240, 0, 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        GuardedBuffer source(c.sourceLength);
        for (size_t i = 0; i < source.size(); ++i) source.data()[i] = static_cast<uint8_t>(i * 7 + 3);
        GuardedBuffer destination(c.destinationLength, 0xCD);
        size_t position = c.start;
        c.routine(source.data(), source.size(), destination.data(), destination.size(), c.width,
                  &position);
        EXPECT_EQ(position, c.end);
        for (const Same& same : c.same) {
            EXPECT_EQ(std::memcmp(destination.data() + same.destination,
                                  source.data() + same.source, same.count),
                      0)
                << "at " << same.destination;
        }
        if (c.end == 0) {
            EXPECT_EQ(destination.data()[0], 0xCD);
        }
    }
}
