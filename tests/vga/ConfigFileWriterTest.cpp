// The configuration writer against planted links, foreign directories and a failing disk.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "device/ConfigFileWriter.h"
#include "device/DefaultConfigTexts.h"
#include "tests/phase/PhaseTestSupport.h"

using namespace Quarvel;
using phase_test::readFile;
using phase_test::ScopedWorkingDirectory;
using phase_test::TemporaryDirectory;
using phase_test::writeFile;

namespace {

const char* const kNames[] = {"ConfigAlgorithm.json", "ConfigCamera.json", "register.json"};

std::vector<std::string> entries(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool isRegularFile(const std::string& path) {
    struct stat status;
    return ::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// Every name holds exactly its constant text, as a plain file.
void expectTextsWritten(const std::string& directory) {
    const ConfigText* const* texts = defaultConfigTexts();
    for (int i = 0; i < kDefaultConfigTextCount; ++i) {
        const std::string path = directory + "/" + texts[i]->fileName;
        EXPECT_TRUE(isRegularFile(path)) << path;
        EXPECT_EQ(readFile(path), std::string(texts[i]->bytes, texts[i]->size)) << path;
    }
}

// The real calls, with a fault placed on one of them.
class FaultyFileWriteCalls : public FileWriteCalls {
public:
    int createExclusive(const char* path, mode_t mode) override {
        ++creates;
        if (createFault && createFault(creates)) return -1;
        return productionFileWriteCalls().createExclusive(path, mode);
    }
    ssize_t write(int fd, const void* bytes, size_t size) override {
        ++writes;
        if (writeFault) {
            const ssize_t faked = writeFault(writes, size);
            if (faked >= 0 && static_cast<size_t>(faked) < size) {
                return productionFileWriteCalls().write(fd, bytes, static_cast<size_t>(faked));
            }
            if (faked < 0) return -1;
        }
        return productionFileWriteCalls().write(fd, bytes, size);
    }
    int close(int fd) override {
        const int result = productionFileWriteCalls().close(fd);
        if (closeError != 0) {
            errno = closeError;
            return -1;
        }
        return result;
    }
    int rename(const char* from, const char* to) override {
        ++renames;
        if (renameFailsAt == renames) {
            errno = EXDEV;
            return -1;
        }
        return productionFileWriteCalls().rename(from, to);
    }
    int unlink(const char* path) override { return productionFileWriteCalls().unlink(path); }

    // Given the call's number; true makes it fail (errno set by the rule).
    std::function<bool(int)> createFault;
    // Given the call's number and size: bytes to really write (less than size for a short
    // write), or -1 to fail with errno set by the rule; size or more writes normally.
    std::function<ssize_t(int, size_t)> writeFault;
    int closeError = 0;
    int renameFailsAt = 0;
    int creates = 0;
    int writes = 0;
    int renames = 0;
};

class ConfigFileWriterTest : public ::testing::Test {
protected:
    // Earlier files in place, so a failure can be seen to keep them.
    void plantOldFiles() {
        for (const char* name : kNames) ASSERT_TRUE(writeFile(directory.file(name), "old"));
    }
    void expectOldFilesOnly() {
        for (const char* name : kNames) EXPECT_EQ(readFile(directory.file(name)), "old") << name;
        EXPECT_EQ(entries(directory.path()),
                  (std::vector<std::string>{"ConfigAlgorithm.json", "ConfigCamera.json",
                                            "register.json"}))
            << "a temporary file was left behind";
    }

    TemporaryDirectory directory;
    ScopedWorkingDirectory inDirectory{directory.path()};
    FaultyFileWriteCalls calls;
};

}  // namespace

TEST_F(ConfigFileWriterTest, WritesTheThreeTextsAndLeavesNothingElse) {
    ASSERT_TRUE(writeDefaultConfigFiles(calls));
    expectTextsWritten(directory.path());
    EXPECT_EQ(entries(directory.path()).size(), 3u);
    plantOldFiles();
    ASSERT_TRUE(writeDefaultConfigFiles(calls)) << "existing files are replaced";
    expectTextsWritten(directory.path());
    EXPECT_EQ(entries(directory.path()).size(), 3u);
}

TEST_F(ConfigFileWriterTest, FilesTakeTheModeAPlainCreateGaveUnderTheUmask) {
    for (const mode_t mask : {mode_t{022}, mode_t{077}, mode_t{002}}) {
        const mode_t previous = ::umask(mask);
        const bool written = writeDefaultConfigFiles(calls);
        ::umask(previous);
        ASSERT_TRUE(written);
        for (const char* name : kNames) {
            struct stat status;
            ASSERT_EQ(::stat(directory.file(name).c_str(), &status), 0);
            EXPECT_EQ(status.st_mode & 0777, 0666 & ~mask) << name << " umask " << mask;
        }
    }
}

TEST_F(ConfigFileWriterTest, APlantedLinkIsReplacedAndItsTargetStaysUntouched) {
    TemporaryDirectory elsewhere;
    const std::string victim = elsewhere.file("thesis.tex");
    ASSERT_TRUE(writeFile(victim, "years of work"));
    for (const char* name : kNames) {
        ASSERT_EQ(::symlink(victim.c_str(), directory.file(name).c_str()), 0);
    }
    // A dangling link aimed at a file that does not exist yet must not create it either.
    ASSERT_EQ(::unlink(directory.file("register.json").c_str()), 0);
    ASSERT_EQ(::symlink(elsewhere.file("created-through-link").c_str(),
                        directory.file("register.json").c_str()),
              0);
    ASSERT_TRUE(writeDefaultConfigFiles(calls));
    EXPECT_EQ(readFile(victim), "years of work");
    EXPECT_EQ(entries(elsewhere.path()), std::vector<std::string>{"thesis.tex"});
    expectTextsWritten(directory.path());
}

TEST_F(ConfigFileWriterTest, ALinkPlantedByAnotherUserInASharedDirectoryIsNotFollowed) {
    // A /tmp-like directory: world-writable and sticky. As root, the directory and the link
    // belong to another user, as on a shared board; otherwise only the mode is shared.
    ASSERT_EQ(::chmod(directory.path().c_str(), 01777), 0);
    TemporaryDirectory elsewhere;
    const std::string victim = elsewhere.file("notes");
    ASSERT_TRUE(writeFile(victim, "mine"));
    ASSERT_EQ(::symlink(victim.c_str(), directory.file("ConfigCamera.json").c_str()), 0);
    if (::geteuid() == 0) {
        constexpr uid_t kSomeoneElse = 4321;
        ASSERT_EQ(::chown(directory.path().c_str(), kSomeoneElse, kSomeoneElse), 0);
        ASSERT_EQ(::lchown(directory.file("ConfigCamera.json").c_str(), kSomeoneElse, kSomeoneElse),
                  0);
    }
    const bool written = writeDefaultConfigFiles(calls);
    EXPECT_EQ(readFile(victim), "mine");
    // Only root may replace another user's link in a sticky directory; anyone else is
    // refused, which leaves the link but still writes nothing through it.
    if (written) {
        expectTextsWritten(directory.path());
    } else {
        EXPECT_NE(::geteuid(), 0u);
    }
    for (const std::string& name : entries(directory.path())) {
        EXPECT_EQ(name.find(".tmp"), std::string::npos) << "left behind: " << name;
    }
}

TEST_F(ConfigFileWriterTest, AReadOnlyDirectoryFailsAndKeepsTheOldFiles) {
    plantOldFiles();
    // The mode bit, where it binds (root ignores it, so the fault below stands in).
    ASSERT_EQ(::chmod(directory.path().c_str(), 0555), 0);
    if (::geteuid() != 0) {
        EXPECT_FALSE(writeDefaultConfigFiles(calls));
        expectOldFilesOnly();
    }
    ASSERT_EQ(::chmod(directory.path().c_str(), 0755), 0);
    calls.createFault = [](int) {
        errno = EROFS;
        return true;
    };
    EXPECT_FALSE(writeDefaultConfigFiles(calls));
    expectOldFilesOnly();
}

TEST_F(ConfigFileWriterTest, AFullDiskOrAFailedCloseFailsAndKeepsTheOldFiles) {
    plantOldFiles();
    // The disk fills in the middle of the second file: a short write, then ENOSPC.
    calls.writeFault = [](int call, size_t size) -> ssize_t {
        if (call == 2) return static_cast<ssize_t>(size / 2);
        if (call >= 3) {
            errno = ENOSPC;
            return -1;
        }
        return static_cast<ssize_t>(size);
    };
    EXPECT_FALSE(writeDefaultConfigFiles(calls));
    expectOldFilesOnly();

    // Some file systems report a full disk as a write of nothing.
    calls.writes = 0;
    calls.writeFault = [](int, size_t) -> ssize_t { return 0; };
    EXPECT_FALSE(writeDefaultConfigFiles(calls));
    expectOldFilesOnly();

    // Delayed allocation reports the lost data only at close.
    calls.writeFault = nullptr;
    calls.closeError = EIO;
    EXPECT_FALSE(writeDefaultConfigFiles(calls));
    expectOldFilesOnly();
}

TEST_F(ConfigFileWriterTest, ShortWritesAndSignalsStillWriteEveryByte) {
    calls.writeFault = [](int call, size_t size) -> ssize_t {
        if (call % 3 == 0) {
            errno = EINTR;
            return -1;
        }
        return static_cast<ssize_t>(std::min<size_t>(size, 700));
    };
    ASSERT_TRUE(writeDefaultConfigFiles(calls));
    expectTextsWritten(directory.path());
    EXPECT_GT(calls.writes, 20) << "the fault did not cut the writes";
}

TEST_F(ConfigFileWriterTest, APlantedTemporaryNameIsSkippedAndEndlessOnesRefused) {
    calls.createFault = [](int call) {
        errno = EEXIST;
        return call <= 3;
    };
    ASSERT_TRUE(writeDefaultConfigFiles(calls));
    expectTextsWritten(directory.path());

    plantOldFiles();
    calls.creates = 0;
    calls.createFault = [](int) {
        errno = EEXIST;
        return true;
    };
    EXPECT_FALSE(writeDefaultConfigFiles(calls));
    expectOldFilesOnly();
}

TEST_F(ConfigFileWriterTest, AFailedRenameLeavesNoTemporaryFile) {
    plantOldFiles();
    calls.renameFailsAt = 1;
    EXPECT_FALSE(writeDefaultConfigFiles(calls));
    expectOldFilesOnly();
    // A later name failing: the earlier one is already replaced, the rest keep theirs.
    calls.renames = 0;
    calls.renameFailsAt = 2;
    EXPECT_FALSE(writeDefaultConfigFiles(calls));
    EXPECT_EQ(readFile(directory.file("ConfigAlgorithm.json")).size(), 273u);
    EXPECT_EQ(readFile(directory.file("ConfigCamera.json")), "old");
    EXPECT_EQ(readFile(directory.file("register.json")), "old");
    EXPECT_EQ(entries(directory.path()).size(), 3u);
}
