// The VGA device against the files of its working directory changing or being something else.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "tests/vga/VgaDeviceFixture.h"

using namespace Quarvel;
using phase_test::readFile;
using phase_test::writeFile;
using VgaHostileFiles = vga_test::VgaDeviceTest;
using Calls = std::vector<std::string>;

namespace {

// Calibration-like bytes that differ at every offset, so a stale page would show.
std::string distinctBytes(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + seed) >> 3);
    return bytes;
}

}  // namespace

TEST_F(VgaHostileFiles, CalibrationTruncatedOrReplacedWhileStreamingStaysReadable) {
    // Larger than a page, so a mapping's later pages would be cut off by the truncation.
    const std::string original = distinctBytes(3 * 65536 + 123, 1);
    ASSERT_TRUE(writeFile(directory.file("cali.bin"), original));
    ASSERT_EQ(device->open(&sensor), 0);
    ASSERT_EQ(device->start(), 0);
    ASSERT_EQ(library.calibrationBytes.size(), original.size());
    const auto* handed = static_cast<const char*>(library.calibrationAddress);

    // A user copies a new calibration in over the old one: truncation first. A library
    // that reads its calibration per frame reads these bytes now (a mapping: SIGBUS).
    ASSERT_EQ(::truncate(directory.file("cali.bin").c_str(), 0), 0);
    EXPECT_EQ(std::memcmp(handed, original.data(), original.size()), 0);

    // Or the new file is renamed over the old one; the next start takes it.
    const std::string replacement = distinctBytes(1000, 7);
    ASSERT_TRUE(writeFile(directory.file("cali.new"), replacement));
    ASSERT_EQ(::rename(directory.file("cali.new").c_str(), directory.file("cali.bin").c_str()), 0);
    EXPECT_EQ(std::memcmp(handed, original.data(), original.size()), 0);
    ASSERT_EQ(device->stop(), 0);
    ASSERT_EQ(device->start(), 0);
    EXPECT_EQ(library.calibrationBytes, replacement);
    EXPECT_EQ(std::memcmp(handed, original.data(), original.size()), 0)
        << "the instance may still point at the first copy";
}

TEST_F(VgaHostileFiles, CalibrationThatIsAFifoADeviceOrALinkLoopIsLeftOutWithoutWaiting) {
    ASSERT_EQ(device->open(&sensor), 0);
    auto startsWithoutCalibration = [&](const char* what) {
        const size_t before = library.calls().size();
        ASSERT_EQ(device->start(), 0) << what;
        const Calls all = library.calls();
        EXPECT_EQ(Calls(all.begin() + before, all.end()), (Calls{"init 640x480", "start"})) << what;
        ASSERT_EQ(::unlink(directory.file("cali.bin").c_str()), 0);
    };
    // A FIFO without a writer: opening it to read would block the start forever.
    ASSERT_EQ(::mkfifo(directory.file("cali.bin").c_str(), 0600), 0);
    startsWithoutCalibration("FIFO");
    ASSERT_EQ(::symlink("/dev/zero", directory.file("cali.bin").c_str()), 0);
    startsWithoutCalibration("endless character device");
    ASSERT_EQ(::symlink("cali.bin", directory.file("cali.bin").c_str()), 0);
    startsWithoutCalibration("link to itself");
    EXPECT_EQ(device->calibrationCopies(), 0u);
}

TEST_F(VgaHostileFiles, ConfigDirectoryTextTooLongIsRefusedAndTheOldOneKept) {
    ASSERT_EQ(device->setControlExt(CameraCtrl::CONFIG_DIR_EXT, "cfg"), 0);
    const std::string tooLong(5000, 'd');
    EXPECT_EQ(device->setControlExt(CameraCtrl::CONFIG_DIR_EXT, tooLong.c_str()),
              QuarvelInvalidParameter);
    // Short enough alone, too long once the library appends its file name.
    const std::string almost(4090, 'd');
    EXPECT_EQ(device->setControlExt(CameraCtrl::CONFIG_DIR_EXT, almost.c_str()),
              QuarvelInvalidParameter);
    EXPECT_EQ(device->configDir, "cfg");
    const std::string longest(4095 - std::strlen("/ConfigAlgorithm.json"), 'd');
    EXPECT_EQ(device->setControlExt(CameraCtrl::CONFIG_DIR_EXT, longest.c_str()), 0);
    EXPECT_EQ(device->configDir, longest);
    // Non-UTF-8 bytes and traversal are a user's own business: kept byte for byte.
    const char* odd = "../\xff\xfe/./cfg";
    EXPECT_EQ(device->setControlExt(CameraCtrl::CONFIG_DIR_EXT, odd), 0);
    EXPECT_EQ(device->configDir, odd);
    EXPECT_EQ(device->setControlExt(CameraCtrl::CONFIG_DIR_EXT, ""), 0);
    EXPECT_TRUE(device->configDir.empty());
}

TEST_F(VgaHostileFiles, ConfigDirectoryThatIsNoDirectoryOrHoldsAFifoFailsStartBeforeAnyWrite) {
    ASSERT_EQ(device->open(&sensor), 0);
    const Calls created{"create"};
    auto startRefused = [&](const std::string& configDirectory, const char* what) {
        ASSERT_EQ(device->setControlExt(CameraCtrl::CONFIG_DIR_EXT, configDirectory.c_str()), 0);
        EXPECT_EQ(device->start(), QuarvelUnkownError) << what;
        EXPECT_EQ(library.calls(), created) << what;
        EXPECT_EQ(::access(directory.file("ConfigCamera.json").c_str(), F_OK), -1) << what;
    };
    ASSERT_TRUE(writeFile(directory.file("plain-file"), "x"));
    startRefused(directory.file("plain-file"), "a regular file");
    startRefused("/dev/null", "a device");
    ASSERT_EQ(::mkfifo(directory.file("fifo").c_str(), 0600), 0);
    startRefused(directory.file("fifo"), "a FIFO");
    // The library would block opening this file to read it.
    ASSERT_EQ(::mkdir(directory.file("cfg").c_str(), 0755), 0);
    ASSERT_EQ(::mkfifo(directory.file("cfg/ConfigAlgorithm.json").c_str(), 0600), 0);
    startRefused(directory.file("cfg"), "a FIFO as its configuration file");

    // A missing directory, or one with a real file, reaches the library as before.
    ASSERT_EQ(::unlink(directory.file("cfg/ConfigAlgorithm.json").c_str()), 0);
    ASSERT_EQ(device->setControlExt(CameraCtrl::CONFIG_DIR_EXT, directory.file("cfg").c_str()), 0);
    EXPECT_EQ(device->start(), 0);
    ASSERT_TRUE(writeFile(directory.file("cfg/ConfigAlgorithm.json"), "[RepairParams]\n"));
    EXPECT_EQ(device->start(), 0);
    ASSERT_EQ(device->setControlExt(CameraCtrl::CONFIG_DIR_EXT, "no/such/directory"), 0);
    EXPECT_EQ(device->start(), 0);
    EXPECT_EQ(library.calls().back(), "start");
    EXPECT_EQ(readFile(directory.file("ConfigCamera.json")).size(), 9476u);
}

TEST_F(VgaHostileFiles, ConfigurationNamesPlantedAsLinksAreReplacedNotWrittenThrough) {
    phase_test::TemporaryDirectory elsewhere;
    const std::string victim = elsewhere.file("precious");
    ASSERT_TRUE(writeFile(victim, "do not truncate"));
    ASSERT_EQ(::symlink(victim.c_str(), directory.file("ConfigCamera.json").c_str()), 0);
    ASSERT_EQ(device->open(&sensor), 0);
    ASSERT_EQ(device->start(), 0);
    EXPECT_EQ(readFile(victim), "do not truncate");
    struct stat status;
    ASSERT_EQ(::lstat(directory.file("ConfigCamera.json").c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
    EXPECT_EQ(status.st_size, 9476);
}
