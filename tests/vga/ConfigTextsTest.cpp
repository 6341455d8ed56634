// The three default configuration texts and their writer: exact bytes on disk.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "device/ConfigFileWriter.h"
#include "device/DefaultConfigTexts.h"
#include "tests/phase/PhaseTestSupport.h"

using namespace Quarvel;
using phase_test::readFile;
using phase_test::writeFile;

namespace vga_test {
std::string sha256Hex(const std::string& bytes);
}

namespace {

// sha256sum of the files built line by line from the documented tables by a separate
// script; they do not come from the constants under test.
struct ExpectedFile {
    const char* name;
    size_t size;
    const char* sha256;
};

const ExpectedFile kExpected[] = {
    {"ConfigAlgorithm.json", 273,
     "488645262355ac97f8073764642adf71d4da81c484c1852268135a6ec04c5988"},
    {"ConfigCamera.json", 9476, "583e5c48394bb29987735b0efdc7cdbdc38a8904b95e78cbd9aaeabd5d6f7f14"},
    {"register.json", 946, "c4ed7bb2597e32cd40866bc8e36522595f06f069563b0e8d0937d57755a605ad"},
};

class DefaultConfigFiles : public ::testing::Test {
protected:
    void expectWritten(const ExpectedFile& expected) {
        const std::string bytes = readFile(directory.file(expected.name));
        EXPECT_EQ(bytes.size(), expected.size) << expected.name;
        EXPECT_EQ(vga_test::sha256Hex(bytes), expected.sha256) << expected.name;
    }
    bool exists(const char* name) { return ::access(directory.file(name).c_str(), F_OK) == 0; }

    phase_test::TemporaryDirectory directory;
    phase_test::ScopedWorkingDirectory inDirectory{directory.path()};
};

}  // namespace

TEST_F(DefaultConfigFiles, WrittenInOrderWithExactSizesAndDigestsTruncatingOldContent) {
    const ConfigText* const* texts = defaultConfigTexts();
    for (int i = 0; i < kDefaultConfigTextCount; ++i) {
        EXPECT_STREQ(texts[i]->fileName, kExpected[i].name);
    }
    ASSERT_TRUE(writeFile(directory.file("register.json"), std::string(5000, 'x')));
    ASSERT_TRUE(writeFile(directory.file("ConfigAlgorithm.json"), std::string(300, '\n')));
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(writeDefaultConfigFiles());
        for (const ExpectedFile& expected : kExpected) expectWritten(expected);
    }
}

TEST_F(DefaultConfigFiles, StopsAtTheFirstNameThatCannotBeReplaced) {
    ASSERT_EQ(::mkdir(directory.file("ConfigCamera.json").c_str(), 0755), 0);
    ASSERT_TRUE(writeFile(directory.file("register.json"), "old"));
    EXPECT_FALSE(writeDefaultConfigFiles());
    expectWritten(kExpected[0]);
    EXPECT_EQ(readFile(directory.file("register.json")), "old");

    ASSERT_EQ(::rmdir(directory.file("ConfigCamera.json").c_str()), 0);
    ASSERT_EQ(::unlink(directory.file("register.json").c_str()), 0);
    ASSERT_EQ(::unlink(directory.file("ConfigAlgorithm.json").c_str()), 0);
    ASSERT_EQ(::mkdir(directory.file("ConfigAlgorithm.json").c_str(), 0755), 0);
    EXPECT_FALSE(writeDefaultConfigFiles());
    EXPECT_FALSE(exists("ConfigCamera.json"));
    EXPECT_FALSE(exists("register.json"));
    size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(directory.path())) {
        (void)entry;
        ++entries;
    }
    EXPECT_EQ(entries, 1u) << "a temporary file was left behind";
}

TEST_F(DefaultConfigFiles, ReadOnlyWorkingDirectoryFails) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only directories";
    ASSERT_EQ(::chmod(directory.path().c_str(), 0555), 0);
    EXPECT_FALSE(writeDefaultConfigFiles());
    ::chmod(directory.path().c_str(), 0755);
}
