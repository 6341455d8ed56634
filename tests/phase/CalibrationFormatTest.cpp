// Decoding "cali.bin": the documented format accepted, every mismatch ignored, no over-read.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "sdk/phase/src/CalibrationData.h"
#include "tests/phase/PhaseTestSupport.h"

namespace {

constexpr int kWidth = 8;
constexpr int kHeight = 4;
constexpr size_t kValues = 3 * kWidth * kHeight;

float patternOffset(int table, int x, int y) { return 10.0f * table + x - 0.5f * y; }

std::vector<uint8_t> validFile() {
    return phase_test::calibrationFile(kWidth, kHeight, patternOffset);
}

bool decodes(const std::vector<uint8_t>& file, std::vector<float>& tables, int width = kWidth,
             int height = kHeight) {
    return si4c::decodeCalibration(file.data(), file.size(), width, height, tables.data(),
                                   tables.size());
}

void putLe32(std::vector<uint8_t>& file, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) file[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

TEST(CalibrationFormat, DocumentedLayoutDecodesToThePerPixelOffsets) {
    std::vector<float> tables(kValues, -999.0f);
    ASSERT_TRUE(decodes(validFile(), tables));
    for (int table = 0; table < 3; ++table) {
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                EXPECT_EQ(tables[(table * kHeight + y) * kWidth + x], patternOffset(table, x, y));
            }
        }
    }
    EXPECT_EQ(validFile().size(), 32u + kValues * 4);
}

TEST(CalibrationFormat, EveryHeaderMismatchIsIgnoredAndLeavesTablesUntouched) {
    struct Corruption {
        const char* what;
        size_t at;
        uint32_t value;
    };
    const Corruption corruptions[] = {
        {"magic", 0, 0x44344953u} /* "SI4D" */,
        {"version", 8, 2},
        {"header bytes", 12, 36},
        {"width", 16, kWidth + 2},
        {"height", 20, kHeight - 1},
        {"table count", 24, 2},
        {"payload bytes", 28, 4 * kValues - 4},
    };
    for (const Corruption& corruption : corruptions) {
        std::vector<uint8_t> file = validFile();
        putLe32(file, corruption.at, corruption.value);
        std::vector<float> tables(kValues, -1.0f);
        EXPECT_FALSE(decodes(file, tables)) << corruption.what;
        EXPECT_EQ(tables, std::vector<float>(kValues, -1.0f)) << corruption.what;
    }
}

TEST(CalibrationFormat, WrongLengthOrGeometryIsIgnored) {
    std::vector<float> tables(kValues, -1.0f);
    std::vector<uint8_t> shorter = validFile();
    shorter.pop_back();
    EXPECT_FALSE(decodes(shorter, tables));
    std::vector<uint8_t> longer = validFile();
    longer.push_back(0);
    EXPECT_FALSE(decodes(longer, tables));
    const std::vector<uint8_t> full = validFile();
    std::vector<uint8_t> headerOnly(full.begin(), full.begin() + 32);
    EXPECT_FALSE(decodes(headerOnly, tables));
    EXPECT_FALSE(decodes(std::vector<uint8_t>(5, 0), tables));
    EXPECT_FALSE(decodes(validFile(), tables, kWidth, kHeight + 1));  // made for another sensor
    std::vector<float> small(kValues - 1);
    EXPECT_FALSE(decodes(validFile(), small));
    EXPECT_EQ(tables, std::vector<float>(kValues, -1.0f));
    EXPECT_FALSE(si4c::decodeCalibration(nullptr, 100, kWidth, kHeight, tables.data(), kValues));
}

TEST(CalibrationFormat, NonFiniteOrOutOfRangeOffsetsRejectTheWholeFile) {
    const float bad[] = {std::numeric_limits<float>::quiet_NaN(),
                         std::numeric_limits<float>::infinity(), 1250.0f, -1300.0f};
    for (float value : bad) {
        auto file = phase_test::calibrationFile(kWidth, kHeight, [&](int table, int x, int y) {
            return table == 0 && x == 3 && y == 2 ? value : 1.0f;
        });
        std::vector<float> tables(kValues, -1.0f);
        EXPECT_FALSE(decodes(file, tables)) << value;
        EXPECT_EQ(tables[0], -1.0f);
    }
    // 2000 mm is beyond the 1250 and 1500 mm tables but within the 2250 mm one.
    auto file = phase_test::calibrationFile(
        kWidth, kHeight, [](int table, int, int) { return table == 2 ? 2000.0f : 0.0f; });
    std::vector<float> tables(kValues);
    EXPECT_TRUE(decodes(file, tables));
}

TEST(CalibrationFormat, NeverReadsPastTheEndOfTheBytes) {
    // Place each candidate so that it ends exactly at an inaccessible page: reading one byte
    // beyond its length faults.
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    const std::vector<uint8_t> full = validFile();
    const size_t usable = ((full.size() + page - 1) / page) * page;
    void* area =
        ::mmap(nullptr, usable + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(area, MAP_FAILED);
    auto* bytes = static_cast<uint8_t*>(area);
    ASSERT_EQ(::mprotect(bytes + usable, page, PROT_NONE), 0);
    std::vector<float> tables(kValues);
    // Truncations of a valid file whose header promises more than is there.
    for (size_t length :
         {size_t{0}, size_t{7}, size_t{31}, size_t{32}, size_t{33}, full.size() - 1, full.size()}) {
        uint8_t* start = bytes + usable - length;
        std::memcpy(start, full.data(), length);
        const bool accepted =
            si4c::decodeCalibration(start, length, kWidth, kHeight, tables.data(), kValues);
        EXPECT_EQ(accepted, length == full.size()) << length;
    }
    ::munmap(area, usable + page);
}
