// Capability query, format negotiation and the mmap buffer queue of a vivid capture node.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <set>

#include "tests/contract/ContractNodes.h"
#include "tests/contract/ContractTarget.h"

namespace Quarvel {
namespace contract {
namespace {

constexpr uint32_t kBufferCount = 8;

bool singlePlanar(const v4l2_format& fmt) { return fmt.type == V4L2_BUF_TYPE_VIDEO_CAPTURE; }
uint32_t widthOf(const v4l2_format& fmt) {
    return singlePlanar(fmt) ? fmt.fmt.pix.width : fmt.fmt.pix_mp.width;
}
uint32_t heightOf(const v4l2_format& fmt) {
    return singlePlanar(fmt) ? fmt.fmt.pix.height : fmt.fmt.pix_mp.height;
}
uint32_t pixelFormatOf(const v4l2_format& fmt) {
    return singlePlanar(fmt) ? fmt.fmt.pix.pixelformat : fmt.fmt.pix_mp.pixelformat;
}
uint32_t bytesPerLineOf(const v4l2_format& fmt) {
    return fmt.type == V4L2_BUF_TYPE_VIDEO_CAPTURE ? fmt.fmt.pix.bytesperline
                                                   : fmt.fmt.pix_mp.plane_fmt[0].bytesperline;
}
uint32_t sizeImageOf(const v4l2_format& fmt) {
    return fmt.type == V4L2_BUF_TYPE_VIDEO_CAPTURE ? fmt.fmt.pix.sizeimage
                                                   : fmt.fmt.pix_mp.plane_fmt[0].sizeimage;
}

v4l2_format y12Request(uint32_t type, uint32_t width, uint32_t height) {
    v4l2_format fmt{};
    fmt.type = type;
    if (type == V4L2_BUF_TYPE_VIDEO_CAPTURE) {
        fmt.fmt.pix.width = width;
        fmt.fmt.pix.height = height;
        fmt.fmt.pix.pixelformat = V4L2_PIX_FMT_Y12;
        fmt.fmt.pix.field = V4L2_FIELD_NONE;
    } else {
        fmt.fmt.pix_mp.width = width;
        fmt.fmt.pix_mp.height = height;
        fmt.fmt.pix_mp.pixelformat = V4L2_PIX_FMT_Y12;
        fmt.fmt.pix_mp.field = V4L2_FIELD_NONE;
        fmt.fmt.pix_mp.num_planes = 1;
    }
    return fmt;
}

// The parts of a format reply that matter to a client, for comparing replies.
std::string describe(const v4l2_format& fmt) {
    std::string text = std::to_string(widthOf(fmt)) + "x" + std::to_string(heightOf(fmt)) +
                       " fourcc " + std::to_string(pixelFormatOf(fmt)) + " stride " +
                       std::to_string(bytesPerLineOf(fmt)) + " image " +
                       std::to_string(sizeImageOf(fmt));
    if (fmt.type == V4L2_BUF_TYPE_VIDEO_CAPTURE) {
        text += " field " + std::to_string(fmt.fmt.pix.field);
    } else {
        text += " field " + std::to_string(fmt.fmt.pix_mp.field) + " planes " +
                std::to_string(fmt.fmt.pix_mp.num_planes);
    }
    return text;
}

int64_t microsecondsOf(const timeval& time) {
    return static_cast<int64_t>(time.tv_sec) * 1000000 + time.tv_usec;
}

int64_t monotonicNowMicroseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

class VideoCaptureContract : public ::testing::TestWithParam<uint32_t> {
protected:
    void SetUp() override {
        node = findVideoNode(system, "vivid", GetParam());
        ASSERT_FALSE(node.path.empty()) << "no vivid capture node of buffer type " << GetParam()
                                        << " on the " << contractTarget().name << " kernel";
        fd = openNode(system, node.path);
        ASSERT_TRUE(fd.isValid()) << node.path;
    }

    // Sets Y12 at `width` x `height`; the driver's reply.
    v4l2_format setY12(uint32_t width, uint32_t height) {
        v4l2_format fmt = y12Request(GetParam(), width, height);
        EXPECT_EQ(0, requestError(system, fd.get(), VIDIOC_S_FMT, &fmt));
        return fmt;
    }

    // A v4l2_buffer for this node's type, with its plane array when multi-planar.
    v4l2_buffer buffer(uint32_t index) {
        v4l2_buffer description{};
        description.type = GetParam();
        description.memory = V4L2_MEMORY_MMAP;
        description.index = index;
        if (GetParam() == V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE) {
            std::memset(&plane, 0, sizeof plane);
            description.m.planes = &plane;
            description.length = 1;
        }
        return description;
    }
    bool multiPlanar() const { return GetParam() == V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE; }
    uint32_t lengthOf(const v4l2_buffer& description) const {
        return multiPlanar() ? description.m.planes[0].length : description.length;
    }
    uint32_t offsetOf(const v4l2_buffer& description) const {
        return multiPlanar() ? description.m.planes[0].m.mem_offset : description.m.offset;
    }
    uint32_t bytesUsedOf(const v4l2_buffer& description) const {
        return multiPlanar() ? description.m.planes[0].bytesused : description.bytesused;
    }

    SystemCalls& system = *contractTarget().system;
    VideoNode node;
    UniqueFd fd;
    v4l2_plane plane{};
};

TEST_P(VideoCaptureContract, CapabilityQueryNamesTheDriverAndItsBufferType) {
    v4l2_capability capability{};
    ASSERT_EQ(0, requestError(system, fd.get(), VIDIOC_QUERYCAP, &capability));
    EXPECT_STREQ("vivid", reinterpret_cast<const char*>(capability.driver));
    const uint32_t wanted = multiPlanar() ? V4L2_CAP_VIDEO_CAPTURE_MPLANE : V4L2_CAP_VIDEO_CAPTURE;
    const uint32_t other = multiPlanar() ? V4L2_CAP_VIDEO_CAPTURE : V4L2_CAP_VIDEO_CAPTURE_MPLANE;
    EXPECT_TRUE(capability.capabilities & V4L2_CAP_DEVICE_CAPS);
    EXPECT_TRUE(capability.capabilities & V4L2_CAP_STREAMING);
    EXPECT_TRUE(capability.device_caps & wanted);
    EXPECT_FALSE(capability.device_caps & other);
    EXPECT_EQ(capability.device_caps, capability.device_caps & capability.capabilities)
        << "device_caps must be a subset of capabilities";
}

TEST_P(VideoCaptureContract, TrySetAndGetAgreeOnTheSizeTheDriverAdjusted) {
    v4l2_format tried = y12Request(GetParam(), 333, 201);
    ASSERT_EQ(0, requestError(system, fd.get(), VIDIOC_TRY_FMT, &tried));
    EXPECT_EQ(V4L2_PIX_FMT_Y12, pixelFormatOf(tried));
    EXPECT_FALSE(widthOf(tried) == 333 && heightOf(tried) == 201)
        << "an odd width is not a size a Y12 capture takes unchanged";
    EXPECT_EQ(widthOf(tried) * 2, bytesPerLineOf(tried));
    EXPECT_EQ(bytesPerLineOf(tried) * heightOf(tried), sizeImageOf(tried));
    if (multiPlanar()) {
        EXPECT_EQ(1, tried.fmt.pix_mp.num_planes);
    }

    // What TRY proposed is taken unchanged, by TRY and by S, and G reads it back.
    v4l2_format again = y12Request(GetParam(), widthOf(tried), heightOf(tried));
    ASSERT_EQ(0, requestError(system, fd.get(), VIDIOC_TRY_FMT, &again));
    EXPECT_EQ(describe(tried), describe(again));
    v4l2_format set = y12Request(GetParam(), 333, 201);
    ASSERT_EQ(0, requestError(system, fd.get(), VIDIOC_S_FMT, &set));
    EXPECT_EQ(describe(tried), describe(set));
    v4l2_format got{};
    got.type = GetParam();
    ASSERT_EQ(0, requestError(system, fd.get(), VIDIOC_G_FMT, &got));
    EXPECT_EQ(describe(set), describe(got));
}

TEST_P(VideoCaptureContract, TryLeavesTheActiveFormatAlone) {
    const v4l2_format active = setY12(640, 480);
    v4l2_format tried = y12Request(GetParam(), 1, 1);
    ASSERT_EQ(0, requestError(system, fd.get(), VIDIOC_TRY_FMT, &tried));
    EXPECT_GT(widthOf(tried), 1u) << "a 1x1 request is raised to the driver's minimum";
    v4l2_format got{};
    got.type = GetParam();
    ASSERT_EQ(0, requestError(system, fd.get(), VIDIOC_G_FMT, &got));
    EXPECT_EQ(describe(active), describe(got));
}

TEST_P(VideoCaptureContract, BufferRingStreamsWithLengthsIndicesAndMonotonicTimestamps) {
    const v4l2_format fmt = setY12(320, 180);
    v4l2_requestbuffers request{};
    request.count = kBufferCount;
    request.type = GetParam();
    request.memory = V4L2_MEMORY_MMAP;
    ASSERT_EQ(0, requestError(system, fd.get(), VIDIOC_REQBUFS, &request));
    ASSERT_EQ(kBufferCount, request.count);

    struct Mapped {
        void* address;
        size_t length;
    };
    std::vector<Mapped> mappings;
    std::set<uint32_t> offsets;
    const long page = sysconf(_SC_PAGESIZE);
    for (uint32_t index = 0; index < kBufferCount; ++index) {
        v4l2_buffer description = buffer(index);
        ASSERT_EQ(0, requestError(system, fd.get(), VIDIOC_QUERYBUF, &description));
        EXPECT_EQ(index, description.index);
        EXPECT_EQ(GetParam(), description.type);
        EXPECT_EQ(V4L2_MEMORY_MMAP, description.memory);
        EXPECT_EQ(sizeImageOf(fmt), lengthOf(description)) << "buffer " << index;
        if (multiPlanar()) {
            EXPECT_EQ(1u, description.length) << "the plane count";
        }
        EXPECT_EQ(0u, offsetOf(description) % page) << "buffer " << index;
        EXPECT_TRUE(offsets.insert(offsetOf(description)).second) << "offsets are distinct";
        EXPECT_FALSE(description.flags & V4L2_BUF_FLAG_QUEUED);
        void* address = system.mmap(nullptr, lengthOf(description), PROT_READ | PROT_WRITE,
                                    MAP_SHARED, fd.get(), offsetOf(description));
        ASSERT_NE(MAP_FAILED, address) << "buffer " << index;
        mappings.push_back({address, lengthOf(description)});
        ASSERT_EQ(0, requestError(system, fd.get(), VIDIOC_QBUF, &description));
        v4l2_buffer queried = buffer(index);
        ASSERT_EQ(0, requestError(system, fd.get(), VIDIOC_QUERYBUF, &queried));
        EXPECT_TRUE(queried.flags & V4L2_BUF_FLAG_QUEUED);
    }
    uint32_t type = GetParam();
    ASSERT_EQ(0, requestError(system, fd.get(), VIDIOC_STREAMON, &type));

    int64_t previous = 0;
    uint32_t previousSequence = 0;
    std::set<uint32_t> seen;
    for (int frame = 0; frame < 12; ++frame) {
        v4l2_buffer description = buffer(0);
        ASSERT_EQ(0, requestError(system, fd.get(), VIDIOC_DQBUF, &description));
        ASSERT_LT(description.index, kBufferCount);
        seen.insert(description.index);
        EXPECT_GT(bytesUsedOf(description), 0u);
        EXPECT_LE(bytesUsedOf(description), lengthOf(description));
        EXPECT_EQ(V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC,
                  description.flags & V4L2_BUF_FLAG_TIMESTAMP_MASK);
        EXPECT_FALSE(description.flags & V4L2_BUF_FLAG_QUEUED);
        const int64_t stamp = microsecondsOf(description.timestamp);
        EXPECT_GT(stamp, previous) << "frame " << frame;
        // On the monotonic clock; vivid stamps a frame with the end of its frame period,
        // which may still lie ahead when DQBUF returns.
        EXPECT_LT(std::llabs(stamp - monotonicNowMicroseconds()), 2000000) << "frame " << frame;
        if (frame > 0) {
            EXPECT_GT(description.sequence, previousSequence);
        }
        previous = stamp;
        previousSequence = description.sequence;
        ASSERT_EQ(0, requestError(system, fd.get(), VIDIOC_QBUF, &description));
    }
    EXPECT_EQ(kBufferCount, seen.size()) << "every buffer of the ring came round";

    ASSERT_EQ(0, requestError(system, fd.get(), VIDIOC_STREAMOFF, &type));
    for (uint32_t index = 0; index < kBufferCount; ++index) {
        v4l2_buffer queried = buffer(index);
        ASSERT_EQ(0, requestError(system, fd.get(), VIDIOC_QUERYBUF, &queried));
        EXPECT_FALSE(queried.flags & V4L2_BUF_FLAG_QUEUED) << "stream-off returns buffer " << index;
    }
    v4l2_buffer afterStop = buffer(0);
    EXPECT_EQ(EINVAL, requestError(system, fd.get(), VIDIOC_DQBUF, &afterStop));
    for (const Mapped& mapping : mappings)
        EXPECT_EQ(0, system.munmap(mapping.address, mapping.length));
    request.count = 0;
    EXPECT_EQ(0, requestError(system, fd.get(), VIDIOC_REQBUFS, &request));
    EXPECT_EQ(0u, request.count);
}

std::string bufferTypeName(const ::testing::TestParamInfo<uint32_t>& info) {
    return info.param == V4L2_BUF_TYPE_VIDEO_CAPTURE ? "SinglePlanar" : "MultiPlanar";
}

INSTANTIATE_TEST_SUITE_P(BothBufferTypes, VideoCaptureContract,
                         ::testing::Values(V4L2_BUF_TYPE_VIDEO_CAPTURE,
                                           V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE),
                         bufferTypeName);

}  // namespace
}  // namespace contract
}  // namespace Quarvel
