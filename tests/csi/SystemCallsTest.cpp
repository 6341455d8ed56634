// The seam's retry rule and the owners of descriptors and mappings.
#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <sys/mman.h>

#include <cerrno>

#include "sensor/MemoryMapping.h"
#include "sensor/SystemCalls.h"
#include "sensor/UniqueFd.h"
#include "sim/kernel/SimBoard.h"

using namespace Quarvel;

namespace {

struct SystemCallSeam : testing::Test {
    std::unique_ptr<sim::SimBoard> board = sim::SimBoard::raspberryPi4().paced(false).build();
    sim::SimKernel& kernel = board->kernel();
};

}  // namespace

TEST_F(SystemCallSeam, RetryRuleRepeatsOnlyInterruptedTryAgainAndTimedOutUpToFiveTimes) {
    UniqueFd fd(kernel, kernel.open("/dev/video0", 2));
    v4l2_capability capability{};
    const struct {
        int error, times, result, attempts;
    } cases[] = {{EINTR, 4, 0, 5},      {EAGAIN, 4, 0, 5}, {ETIMEDOUT, 4, 0, 5},
                 {ETIMEDOUT, 5, -1, 5}, {EIO, 1, -1, 1}};
    for (const auto& entry : cases) {
        SCOPED_TRACE(testing::Message() << entry.error << " x" << entry.times);
        kernel.clearTrace();
        kernel.addFault({sim::Call::Ioctl, VIDIOC_QUERYCAP, "", entry.error, entry.times});
        EXPECT_EQ(retryingIoctl(kernel, fd.get(), VIDIOC_QUERYCAP, &capability), entry.result);
        if (entry.result != 0) {
            EXPECT_EQ(errno, entry.error);
        }
        EXPECT_EQ(kernel.trace().size(), static_cast<size_t>(entry.attempts));
    }
}

TEST_F(SystemCallSeam, UniqueFdClosesOnceEvenWhenCloseReportsAnError) {
    {
        UniqueFd fd(kernel, kernel.open("/dev/video0", 2));
        EXPECT_TRUE(fd.isValid());
        UniqueFd moved = std::move(fd);
        EXPECT_FALSE(fd.isValid());
        kernel.addFault({sim::Call::Close, 0, "", EIO, 1});
        EXPECT_EQ(moved.reset(), -1);
        EXPECT_FALSE(moved.isValid());
        EXPECT_EQ(moved.reset(), 0);
    }
    int closes = 0;
    for (const auto& record : kernel.trace()) closes += record.call == sim::Call::Close;
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(kernel.openDescriptorCount(), 0);
}

TEST_F(SystemCallSeam, MemoryMappingKeepsAFailedUnmapAndReleasesItLater) {
    UniqueFd video(kernel, kernel.open("/dev/video0", 2));
    v4l2_requestbuffers request{};
    request.count = 1;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    ASSERT_EQ(kernel.ioctl(video.get(), VIDIOC_REQBUFS, &request), 0);
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    ASSERT_EQ(kernel.ioctl(video.get(), VIDIOC_QUERYBUF, &buffer), 0);
    {
        MemoryMapping mapping(kernel,
                              kernel.mmap(nullptr, buffer.length, PROT_READ | PROT_WRITE,
                                          MAP_SHARED, video.get(), buffer.m.offset),
                              buffer.length);
        ASSERT_TRUE(mapping.isValid());
        EXPECT_EQ(kernel.mappingCount(), 1u);
        kernel.addFault({sim::Call::Munmap, 0, "", EINVAL, 1});
        EXPECT_EQ(mapping.unmap(), -1);
        EXPECT_TRUE(mapping.isValid());
        EXPECT_EQ(kernel.mappingCount(), 1u);
    }
    EXPECT_EQ(kernel.mappingCount(), 0u);
}
