// Path checks and whole-file reads over every kind of name a user can hand in.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>
#include <string>

#include "core/UserFiles.h"
#include "tests/phase/PhaseTestSupport.h"
#include "tests/support/Waits.h"

using namespace Quarvel;
using phase_test::TemporaryDirectory;
using phase_test::writeFile;

namespace {

class UserFilesTest : public ::testing::Test {
protected:
    UserPathStatus read(const std::string& path, size_t maxBytes = 1 << 20) {
        content = "stale";
        const UserPathStatus status = readUserFile(path.c_str(), maxBytes, content);
        if (status != UserPathStatus::Ok) {
            EXPECT_TRUE(content.empty()) << path;
        }
        return status;
    }
    TemporaryDirectory directory;
    std::string content;
};

}  // namespace

TEST_F(UserFilesTest, ReadsAWholeRegularFileByAnyNameItCanHave) {
    const std::string bytes("line\n\0binary\xff", 13);
    ASSERT_TRUE(writeFile(directory.file("plain"), bytes));
    EXPECT_EQ(read(directory.file("plain")), UserPathStatus::Ok);
    EXPECT_EQ(content, bytes);
    // Traversal and links are the user's own business; the file reached is what counts.
    ASSERT_EQ(::mkdir(directory.file("sub").c_str(), 0755), 0);
    EXPECT_EQ(read(directory.file("sub/../sub/./../plain")), UserPathStatus::Ok);
    EXPECT_EQ(content, bytes);
    ASSERT_EQ(::symlink("plain", directory.file("link").c_str()), 0);
    EXPECT_EQ(read(directory.file("link")), UserPathStatus::Ok);
    // A name that is not UTF-8 is bytes like any other.
    ASSERT_TRUE(writeFile(directory.file("caf\xe9-\xff"), "latin-1"));
    EXPECT_EQ(read(directory.file("caf\xe9-\xff")), UserPathStatus::Ok);
    EXPECT_EQ(content, "latin-1");
    ASSERT_TRUE(writeFile(directory.file("empty"), ""));
    EXPECT_EQ(read(directory.file("empty")), UserPathStatus::Ok);
    EXPECT_EQ(content, "");
    struct stat identity {};
    ASSERT_EQ(readUserFile(directory.file("plain").c_str(), 100, content, &identity),
              UserPathStatus::Ok);
    EXPECT_EQ(identity.st_size, 13);
}

TEST_F(UserFilesTest, RefusesWhatIsNotAFileWithoutWaiting) {
    ASSERT_EQ(::mkfifo(directory.file("fifo").c_str(), 0600), 0);
    // Opening a FIFO that has no writer blocks a plain reader: read on another thread, and
    // should it block, a writer opened after the bound releases it and the test fails.
    auto reading = std::async(std::launch::async, [&] {
        std::string bytes;
        return readUserFile(directory.file("fifo").c_str(), 100, bytes);
    });
    const bool returned = support::eventually([&] {
        return reading.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready;
    });
    if (!returned) {
        const int writer = ::open(directory.file("fifo").c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) ::close(writer);
    }
    ASSERT_TRUE(returned) << "reading a FIFO blocked";
    EXPECT_EQ(reading.get(), UserPathStatus::NotRegularFile);

    EXPECT_EQ(read("/dev/zero"), UserPathStatus::NotRegularFile) << "endless device";
    EXPECT_EQ(read("/dev/null"), UserPathStatus::NotRegularFile);
    EXPECT_EQ(read(directory.path()), UserPathStatus::NotRegularFile);
    EXPECT_EQ(read(directory.file("missing")), UserPathStatus::Missing);
    EXPECT_EQ(read(directory.file("missing/below")), UserPathStatus::Missing);
    ASSERT_TRUE(writeFile(directory.file("file"), "x"));
    EXPECT_EQ(read(directory.file("file/below")), UserPathStatus::Missing);
    ASSERT_EQ(::symlink("loop", directory.file("loop").c_str()), 0);
    EXPECT_EQ(read(directory.file("loop")), UserPathStatus::Unreadable);
    EXPECT_EQ(read(""), UserPathStatus::Empty);
    std::string bytes = "stale";
    EXPECT_EQ(readUserFile(nullptr, 100, bytes), UserPathStatus::Empty);
    EXPECT_TRUE(bytes.empty());
}

TEST_F(UserFilesTest, RefusesOverlongPathsAndOverlargeFiles) {
    EXPECT_EQ(read(std::string(5000, 'a')), UserPathStatus::TooLong);
    EXPECT_EQ(read(directory.file(std::string(300, 'n'))), UserPathStatus::TooLong)
        << "one component beyond the file system's limit";
    EXPECT_EQ(read(std::string(kMaxUserPathBytes + 1, '/')), UserPathStatus::TooLong);
    EXPECT_EQ(checkUserDirectory(std::string(kMaxUserPathBytes + 1, '/').c_str()),
              UserPathStatus::TooLong);
    ASSERT_TRUE(writeFile(directory.file("big"), std::string(1001, 'b')));
    EXPECT_EQ(read(directory.file("big"), 1000), UserPathStatus::TooLarge);
    EXPECT_EQ(read(directory.file("big"), 1001), UserPathStatus::Ok);
}

TEST_F(UserFilesTest, ChecksKindWithoutOpening) {
    ASSERT_TRUE(writeFile(directory.file("file"), "x"));
    ASSERT_EQ(::mkfifo(directory.file("fifo").c_str(), 0600), 0);
    EXPECT_EQ(checkUserDirectory(directory.path().c_str()), UserPathStatus::Ok);
    EXPECT_EQ(checkUserDirectory(directory.file("file").c_str()), UserPathStatus::NotDirectory);
    EXPECT_EQ(checkUserDirectory(directory.file("fifo").c_str()), UserPathStatus::NotDirectory);
    EXPECT_EQ(checkUserDirectory("/dev/null"), UserPathStatus::NotDirectory);
    EXPECT_EQ(checkUserDirectory(directory.file("none").c_str()), UserPathStatus::Missing);
    EXPECT_EQ(checkUserDirectory(nullptr), UserPathStatus::Empty);
    EXPECT_EQ(checkUserFile(directory.file("file").c_str()), UserPathStatus::Ok);
    EXPECT_EQ(checkUserFile(directory.file("fifo").c_str()), UserPathStatus::NotRegularFile);
    EXPECT_EQ(checkUserFile(directory.path().c_str()), UserPathStatus::NotRegularFile);
    EXPECT_STREQ(describe(UserPathStatus::NotRegularFile), "not a regular file");
    EXPECT_STREQ(describe(UserPathStatus::TooLong), "path too long");
}
