// The errno values drivers give for requests that are wrong for their state or arguments.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/mman.h>

#include "tests/contract/ContractNodes.h"
#include "tests/contract/ContractTarget.h"

namespace Quarvel {
namespace contract {
namespace {

class BadRequestContract : public ::testing::Test {
protected:
    void SetUp() override {
        node = findVideoNode(system, "vivid", V4L2_BUF_TYPE_VIDEO_CAPTURE);
        ASSERT_FALSE(node.path.empty()) << "no single-planar vivid node";
        fd = openNode(system, node.path);
        ASSERT_TRUE(fd.isValid());
        v4l2_format fmt{};
        fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        fmt.fmt.pix.width = 320;
        fmt.fmt.pix.height = 180;
        fmt.fmt.pix.pixelformat = V4L2_PIX_FMT_Y12;
        fmt.fmt.pix.field = V4L2_FIELD_NONE;
        ASSERT_EQ(0, requestError(system, fd.get(), VIDIOC_S_FMT, &fmt));
    }

    int requestBuffers(uint32_t count) {
        v4l2_requestbuffers request{};
        request.count = count;
        request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        request.memory = V4L2_MEMORY_MMAP;
        return requestError(system, fd.get(), VIDIOC_REQBUFS, &request);
    }
    int queue(uint32_t index) {
        v4l2_buffer description{};
        description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        description.memory = V4L2_MEMORY_MMAP;
        description.index = index;
        return requestError(system, fd.get(), VIDIOC_QBUF, &description);
    }

    SystemCalls& system = *contractTarget().system;
    VideoNode node;
    UniqueFd fd;
};

TEST_F(BadRequestContract, UnknownRequestIsNotATypewriter) {
    int value = 0;
    EXPECT_EQ(ENOTTY, requestError(system, fd.get(), _IOWR('V', 250, int), &value));
}

TEST_F(BadRequestContract, WrongBufferTypeOrMemoryIsInvalid) {
    v4l2_format fmt{};
    fmt.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    EXPECT_EQ(EINVAL, requestError(system, fd.get(), VIDIOC_G_FMT, &fmt));
    // vivid serves both kinds through one set of handlers, and the kind an instance was not
    // made for is not supported at all.
    fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE;
    EXPECT_EQ(ENOTTY, requestError(system, fd.get(), VIDIOC_TRY_FMT, &fmt));
    v4l2_requestbuffers request{};
    request.count = 2;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = 0;
    EXPECT_EQ(EINVAL, requestError(system, fd.get(), VIDIOC_REQBUFS, &request));
    uint32_t type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    EXPECT_EQ(EINVAL, requestError(system, fd.get(), VIDIOC_STREAMON, &type));
}

TEST_F(BadRequestContract, InputsBeyondTheLastAreInvalid) {
    v4l2_input input{};
    input.index = 99;
    EXPECT_EQ(EINVAL, requestError(system, fd.get(), VIDIOC_ENUMINPUT, &input));
    int index = 99;
    EXPECT_EQ(EINVAL, requestError(system, fd.get(), VIDIOC_S_INPUT, &index));
    index = 0;
    EXPECT_EQ(0, requestError(system, fd.get(), VIDIOC_S_INPUT, &index));
}

TEST_F(BadRequestContract, BufferRequestsOutOfOrderAreRefused) {
    uint32_t type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    EXPECT_EQ(EINVAL, requestError(system, fd.get(), VIDIOC_STREAMON, &type))
        << "stream-on without buffers";
    v4l2_buffer description{};
    description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    description.memory = V4L2_MEMORY_MMAP;
    EXPECT_EQ(EINVAL, requestError(system, fd.get(), VIDIOC_DQBUF, &description))
        << "dequeue while not streaming";

    ASSERT_EQ(0, requestBuffers(4));
    description.index = 4;
    EXPECT_EQ(EINVAL, requestError(system, fd.get(), VIDIOC_QUERYBUF, &description));
    EXPECT_EQ(EINVAL, queue(4)) << "index past the granted buffers";
    EXPECT_EQ(0, queue(0));
    EXPECT_EQ(EINVAL, queue(0)) << "a buffer queued twice";

    v4l2_format fmt{};
    fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    ASSERT_EQ(0, requestError(system, fd.get(), VIDIOC_G_FMT, &fmt));
    EXPECT_EQ(EBUSY, requestError(system, fd.get(), VIDIOC_S_FMT, &fmt))
        << "a new format while buffers exist";

    for (uint32_t index = 1; index < 4; ++index) ASSERT_EQ(0, queue(index));
    ASSERT_EQ(0, requestError(system, fd.get(), VIDIOC_STREAMON, &type));
    EXPECT_EQ(EBUSY, requestBuffers(8)) << "new buffers while streaming";
    EXPECT_EQ(0, requestError(system, fd.get(), VIDIOC_STREAMOFF, &type));
    EXPECT_EQ(0, requestBuffers(0));
}

TEST_F(BadRequestContract, NewBuffersWhileOldOnesAreMappedOrphanTheOldOnes) {
    ASSERT_EQ(0, requestBuffers(2));
    v4l2_buffer description{};
    description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    description.memory = V4L2_MEMORY_MMAP;
    ASSERT_EQ(0, requestError(system, fd.get(), VIDIOC_QUERYBUF, &description));
    void* address = system.mmap(nullptr, description.length, PROT_READ, MAP_SHARED, fd.get(),
                                description.m.offset);
    ASSERT_NE(MAP_FAILED, address);
    // The mapping keeps the old memory alive; the queue itself starts afresh.
    EXPECT_EQ(0, requestBuffers(0));
    EXPECT_EQ(0, requestBuffers(3));
    const uint8_t first = *static_cast<const uint8_t*>(address);
    (void)first;
    EXPECT_EQ(0, system.munmap(address, description.length));
    EXPECT_EQ(0, requestBuffers(0));
}

TEST_F(BadRequestContract, ClosedDescriptorIsBad) {
    const int stale = fd.get();
    ASSERT_EQ(0, fd.reset());
    v4l2_capability capability{};
    EXPECT_EQ(EBADF, requestError(system, stale, VIDIOC_QUERYCAP, &capability));
}

}  // namespace
}  // namespace contract
}  // namespace Quarvel
