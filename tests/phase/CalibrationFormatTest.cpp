// Decoding "cali.bin": the documented format accepted, every mismatch ignored, no over-read.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

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

bool decodes(const std::vector<uint8_t>& file, std::vector<float>& tables, int height = kHeight) {
    return si4c::decodeCalibration(file.data(), file.size(), kWidth, height, tables.data(),
                                   tables.size());
}

}  // namespace

TEST(CalibrationFormat, DocumentedLayoutDecodesToThePerPixelOffsets) {
    std::vector<float> tables(kValues, -999.0f);
    ASSERT_EQ(validFile().size(), 32u + kValues * 4);
    ASSERT_TRUE(decodes(validFile(), tables));
    for (int table = 0; table < 3; ++table) {
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                EXPECT_EQ(tables[(table * kHeight + y) * kWidth + x], patternOffset(table, x, y));
            }
        }
    }
    // 2000 mm is beyond the 1250 and 1500 mm tables but within the 2250 mm one.
    auto far = phase_test::calibrationFile(
        kWidth, kHeight, [](int table, int, int) { return table == 2 ? 2000.0f : 0.0f; });
    EXPECT_TRUE(decodes(far, tables));
}

TEST(CalibrationFormat, EveryMismatchIsIgnoredAndLeavesTablesUntouched) {
    struct Header {
        const char* what;
        size_t at;
        uint32_t value;
    };
    const Header headers[] = {
        {"magic", 0, 0x44344953u},  // "SI4D"
        {"version", 8, 2},         {"header bytes", 12, 36},   {"width", 16, kWidth + 2},
        {"height", 20, kHeight - 1}, {"table count", 24, 2}, {"payload bytes", 28, 4 * kValues - 4},
    };
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
    for (const Header& header : headers) {
        std::vector<uint8_t> file = validFile();
        for (int i = 0; i < 4; ++i) file[header.at + i] = uint8_t(header.value >> (8 * i));
        files.emplace_back(header.what, file);
    }
    std::vector<uint8_t> file = validFile();
    file.pop_back();
    files.emplace_back("one byte short", file);
    file.push_back(0);
    file.push_back(0);
    files.emplace_back("one byte long", file);
    files.emplace_back("header only", std::vector<uint8_t>(file.begin(), file.begin() + 32));
    files.emplace_back("5 bytes", std::vector<uint8_t>(5, 0));
    for (float bad : {std::numeric_limits<float>::quiet_NaN(),
                      std::numeric_limits<float>::infinity(), 1250.0f, -1300.0f}) {
        files.emplace_back("offset " + std::to_string(bad),
                           phase_test::calibrationFile(kWidth, kHeight, [&](int t, int x, int y) {
                               return t == 0 && x == 3 && y == 2 ? bad : 1.0f;
                           }));
    }
    for (const auto& candidate : files) {
        std::vector<float> tables(kValues, -1.0f);
        EXPECT_FALSE(decodes(candidate.second, tables)) << candidate.first;
        EXPECT_EQ(tables, std::vector<float>(kValues, -1.0f)) << candidate.first;
    }
    std::vector<float> tables(kValues, -1.0f);
    EXPECT_FALSE(decodes(validFile(), tables, kHeight + 1));  // made for another sensor
    std::vector<float> small(kValues - 1);
    EXPECT_FALSE(decodes(validFile(), small));
    EXPECT_FALSE(si4c::decodeCalibration(nullptr, 100, kWidth, kHeight, tables.data(), kValues));
    EXPECT_EQ(tables, std::vector<float>(kValues, -1.0f));
}

TEST(CalibrationFormat, NeverReadsPastTheEndOfTheBytes) {
    // Each truncation ends exactly at an inaccessible page: reading one byte beyond faults.
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    const std::vector<uint8_t> full = validFile();
    const size_t usable = ((full.size() + page - 1) / page) * page;
    void* area =
        ::mmap(nullptr, usable + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(area, MAP_FAILED);
    auto* bytes = static_cast<uint8_t*>(area);
    ASSERT_EQ(::mprotect(bytes + usable, page, PROT_NONE), 0);
    std::vector<float> tables(kValues);
    for (size_t length : {size_t{0}, size_t{7}, size_t{31}, size_t{32}, size_t{33},
                          full.size() - 1, full.size()}) {
        uint8_t* start = bytes + usable - length;
        std::memcpy(start, full.data(), length);
        EXPECT_EQ(si4c::decodeCalibration(start, length, kWidth, kHeight, tables.data(), kValues),
                  length == full.size())
            << length;
    }
    ::munmap(area, usable + page);
}
