// The three default configuration texts and their writer: exact bytes on disk.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "device/ConfigFileWriter.h"
#include "device/DefaultConfigTexts.h"
#include "tests/phase/PhaseTestSupport.h"
#include "tests/vga/Sha256.h"

using namespace Quarvel;
using phase_test::readFile;
using phase_test::ScopedWorkingDirectory;
using phase_test::TemporaryDirectory;
using phase_test::writeFile;

namespace {

// sha256sum of the files built line by line from the documented tables by a separate
// script; they do not come from the constants under test.
struct ExpectedFile {
    const char* name;
    size_t size;
    size_t lineFeeds;
    bool endsWithLineFeed;
    const char* sha256;
};

const ExpectedFile kExpected[] = {
    {"ConfigAlgorithm.json", 273, 16, true,
     "488645262355ac97f8073764642adf71d4da81c484c1852268135a6ec04c5988"},
    {"ConfigCamera.json", 9476, 431, false,
     "583e5c48394bb29987735b0efdc7cdbdc38a8904b95e78cbd9aaeabd5d6f7f14"},
    {"register.json", 946, 70, false,
     "c4ed7bb2597e32cd40866bc8e36522595f06f069563b0e8d0937d57755a605ad"},
};

std::string textOf(const ConfigText& text) { return std::string(text.bytes, text.size); }

void expectWritten(const TemporaryDirectory& directory, const ExpectedFile& expected) {
    const std::string bytes = readFile(directory.file(expected.name));
    EXPECT_EQ(bytes.size(), expected.size) << expected.name;
    EXPECT_EQ(vga_test::sha256Hex(bytes), expected.sha256) << expected.name;
}

class DefaultConfigFiles : public ::testing::Test {
protected:
    TemporaryDirectory directory;
    ScopedWorkingDirectory inDirectory{directory.path()};
};

}  // namespace

TEST(Sha256, MatchesTheStandardTestVectors) {
    EXPECT_EQ(vga_test::sha256Hex(""),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(vga_test::sha256Hex("abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(vga_test::sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST(DefaultConfigTexts, ConstantsHaveTheirExactSizesLineEndsAndCharacterSet) {
    const ConfigText* const* texts = defaultConfigTexts();
    for (int i = 0; i < kDefaultConfigTextCount; ++i) {
        const ExpectedFile& expected = kExpected[i];
        const std::string text = textOf(*texts[i]);
        EXPECT_STREQ(texts[i]->fileName, expected.name);
        EXPECT_EQ(text.size(), expected.size) << expected.name;
        EXPECT_EQ(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')),
                  expected.lineFeeds)
            << expected.name;
        EXPECT_EQ(text.back() == '\n', expected.endsWithLineFeed) << expected.name;
        EXPECT_TRUE(std::all_of(text.begin(), text.end(),
                                [](char c) { return c == '\n' || (c > ' ' && c < 0x7F); }))
            << expected.name << " holds a blank, a control character or non-ASCII";
        EXPECT_EQ(text.find("\n\n\n"), std::string::npos) << expected.name;
    }
    EXPECT_EQ(&configAlgorithmText(), texts[0]);
    EXPECT_EQ(&configCameraText(), texts[1]);
    EXPECT_EQ(&registerText(), texts[2]);
}

TEST(DefaultConfigTexts, SectionsComeInTheirOrder) {
    const std::string camera = textOf(configCameraText());
    const char* sections[] = {"[VideoInfo]\n",
                              "\n\n[Signle-4PHASE]\nWorkMode=0\nSubWorkMode=1\n",
                              "\n\n[Signle-4PHASE_GRAY]\n",
                              "\n\n[Double-4PHASE_4PHASE]\n",
                              "\n\n[Double-4PHASE_GRAY_4PHASE_BG]\n",
                              "\n\n[Gray-Only]\n",
                              "\n\n[BGOUTDOOR]\n",
                              "\n\n[Signal-BG-GRAY-BG-4PHASE]\nWorkMode=0\nSubWorkMode=8\n"};
    size_t at = 0;
    for (const char* section : sections) {
        const size_t found = camera.find(section, at);
        ASSERT_NE(found, std::string::npos) << section;
        at = found + 1;
    }
    EXPECT_TRUE(camera.compare(camera.size() - 33, 33, "TSensorMode=1\nperformClkChanges=0") == 0);

    const std::string registers = textOf(registerText());
    EXPECT_EQ(registers.rfind("[SENSOR]\n0x0C28=0x00000000\n", 0), 0u);
    EXPECT_NE(registers.find("0x0429=0x00989680\n\n0x0722=0x00072020\n"), std::string::npos);
    EXPECT_NE(registers.find("0x070D=0x00009c01\n\n[VDRIVER]\n0x00=0x10\n"), std::string::npos);
    EXPECT_TRUE(registers.compare(registers.size() - 10, 10, "\n0x32=0x00") == 0);
}

TEST_F(DefaultConfigFiles, WrittenFilesHaveExactSizesAndDigests) {
    ASSERT_TRUE(writeDefaultConfigFiles());
    for (const ExpectedFile& expected : kExpected) expectWritten(directory, expected);
    // A second start writes the very same bytes again.
    ASSERT_TRUE(writeDefaultConfigFiles());
    for (const ExpectedFile& expected : kExpected) expectWritten(directory, expected);
}

TEST_F(DefaultConfigFiles, LongerExistingFilesAreTruncated) {
    ASSERT_TRUE(writeFile(directory.file("register.json"), std::string(5000, 'x')));
    ASSERT_TRUE(writeFile(directory.file("ConfigAlgorithm.json"), std::string(300, '\n')));
    ASSERT_TRUE(writeDefaultConfigFiles());
    for (const ExpectedFile& expected : kExpected) expectWritten(directory, expected);
}

TEST_F(DefaultConfigFiles, StopsAtTheFirstFileThatCannotBeCreated) {
    // A directory in the way of the second file.
    ASSERT_EQ(::mkdir(directory.file("ConfigCamera.json").c_str(), 0755), 0);
    ASSERT_TRUE(writeFile(directory.file("register.json"), "old"));
    EXPECT_FALSE(writeDefaultConfigFiles());
    expectWritten(directory, kExpected[0]);
    EXPECT_EQ(readFile(directory.file("register.json")), "old");
}

TEST_F(DefaultConfigFiles, NothingIsWrittenWhenTheFirstFileCannotBeCreated) {
    ASSERT_EQ(::mkdir(directory.file("ConfigAlgorithm.json").c_str(), 0755), 0);
    EXPECT_FALSE(writeDefaultConfigFiles());
    EXPECT_FALSE(phase_test::fileExists(directory.file("ConfigCamera.json")));
    EXPECT_FALSE(phase_test::fileExists(directory.file("register.json")));
}

TEST_F(DefaultConfigFiles, ReadOnlyWorkingDirectoryFails) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only directories";
    ASSERT_EQ(::chmod(directory.path().c_str(), 0555), 0);
    EXPECT_FALSE(writeDefaultConfigFiles());
    ::chmod(directory.path().c_str(), 0755);
}
