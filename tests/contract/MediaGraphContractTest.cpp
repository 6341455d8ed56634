// Media entity enumeration, and subdevice formats set and read back.
#include <gtest/gtest.h>
#include <linux/media-bus-format.h>
#include <linux/v4l2-subdev.h>

#include <cstring>

#include "tests/contract/ContractNodes.h"
#include "tests/contract/ContractTarget.h"

namespace Quarvel {
namespace contract {
namespace {

class MediaGraphContract : public ::testing::Test {
protected:
    SystemCalls& system = *contractTarget().system;
};

TEST_F(MediaGraphContract, EnumerationWithNextWalksEveryEntityToItsInvalidEnd) {
    const VideoNode video = findVideoNode(system, "vivid", V4L2_BUF_TYPE_VIDEO_CAPTURE);
    ASSERT_FALSE(video.path.empty());
    const std::string mediaPath = findMediaNode(system, "vivid");
    ASSERT_FALSE(mediaPath.empty()) << "vivid registers a media device";
    UniqueFd media = openNode(system, mediaPath);
    ASSERT_TRUE(media.isValid());

    int endError = 0;
    const std::vector<media_entity_desc> entities =
        enumerateEntities(system, media.get(), &endError);
    EXPECT_EQ(EINVAL, endError) << "the end of the list";
    ASSERT_FALSE(entities.empty());
    uint32_t previous = 0;
    for (const media_entity_desc& entity : entities) {
        EXPECT_GT(entity.id, previous) << entity.name;
        EXPECT_FALSE(entity.id & MEDIA_ENT_ID_FLAG_NEXT);
        EXPECT_GT(std::strlen(entity.name), 0u);
        previous = entity.id;
        // Asking for the id itself (without the flag) gives the same entity.
        media_entity_desc direct{};
        direct.id = entity.id;
        ASSERT_EQ(0, requestError(system, media.get(), MEDIA_IOC_ENUM_ENTITIES, &direct));
        EXPECT_STREQ(entity.name, direct.name);
    }
    // The graph names the capture node by its device number.
    int videoEntities = 0;
    for (const media_entity_desc& entity : entities) {
        if (entity.dev.major == video.major && entity.dev.minor == video.minor) {
            ++videoEntities;
            EXPECT_EQ(static_cast<uint32_t>(MEDIA_ENT_F_IO_V4L), entity.type);
        }
    }
    EXPECT_EQ(1, videoEntities) << video.path;

    media_entity_desc missing{};
    missing.id = previous + 1000;
    EXPECT_EQ(EINVAL, requestError(system, media.get(), MEDIA_IOC_ENUM_ENTITIES, &missing));
    media_entity_desc beyond{};
    beyond.id = previous | MEDIA_ENT_ID_FLAG_NEXT;
    EXPECT_EQ(EINVAL, requestError(system, media.get(), MEDIA_IOC_ENUM_ENTITIES, &beyond));
}

class SubdeviceContract : public MediaGraphContract {
protected:
    void SetUp() override {
        if (!contractTarget().subdeviceGraph) GTEST_SKIP() << "vimc is not loaded";
        const std::string mediaPath = findMediaNode(system, "vimc");
        ASSERT_FALSE(mediaPath.empty());
        UniqueFd media = openNode(system, mediaPath);
        ASSERT_TRUE(media.isValid());
        int endError = 0;
        for (const media_entity_desc& entity : enumerateEntities(system, media.get(), &endError)) {
            if (std::strcmp(entity.name, "Sensor A") != 0) continue;
            EXPECT_EQ(static_cast<uint32_t>(MEDIA_ENT_F_CAM_SENSOR), entity.type);
            path = subdevicePathOf(system, entity.dev.major, entity.dev.minor);
        }
        ASSERT_FALSE(path.empty()) << "the sensor entity leads to a v4l-subdev node";
        fd = openNode(system, path);
        ASSERT_TRUE(fd.isValid()) << path;
    }

    v4l2_subdev_format request(uint32_t width, uint32_t height) const {
        v4l2_subdev_format format{};
        format.which = V4L2_SUBDEV_FORMAT_ACTIVE;
        format.pad = 0;
        format.format.width = width;
        format.format.height = height;
        format.format.code = MEDIA_BUS_FMT_Y12_1X12;
        format.format.field = V4L2_FIELD_NONE;
        return format;
    }

    std::string path;
    UniqueFd fd;
};

std::string describe(const v4l2_mbus_framefmt& format) {
    return std::to_string(format.width) + "x" + std::to_string(format.height) + " code " +
           std::to_string(format.code) + " field " + std::to_string(format.field);
}

TEST_F(SubdeviceContract, SetFormatIsReadBackAsTheDriverAnswered) {
    v4l2_subdev_format set = request(640, 480);
    ASSERT_EQ(0, requestError(system, fd.get(), VIDIOC_SUBDEV_S_FMT, &set));
    EXPECT_EQ(640u, set.format.width);
    EXPECT_EQ(480u, set.format.height);
    EXPECT_NE(0u, set.format.code) << "the driver answers with the code it will use";
    v4l2_subdev_format got{};
    got.which = V4L2_SUBDEV_FORMAT_ACTIVE;
    ASSERT_EQ(0, requestError(system, fd.get(), VIDIOC_SUBDEV_G_FMT, &got));
    EXPECT_EQ(describe(set.format), describe(got.format));
}

TEST_F(SubdeviceContract, AdjustedSizeIsReadBackAsAdjusted) {
    v4l2_subdev_format set = request(1, 1);
    ASSERT_EQ(0, requestError(system, fd.get(), VIDIOC_SUBDEV_S_FMT, &set));
    EXPECT_GT(set.format.width, 1u);
    EXPECT_GT(set.format.height, 1u);
    v4l2_subdev_format got{};
    got.which = V4L2_SUBDEV_FORMAT_ACTIVE;
    ASSERT_EQ(0, requestError(system, fd.get(), VIDIOC_SUBDEV_G_FMT, &got));
    EXPECT_EQ(describe(set.format), describe(got.format));
}

TEST_F(SubdeviceContract, MissingPadOrUnknownWhichIsInvalid) {
    v4l2_subdev_format format = request(640, 480);
    format.pad = 99;
    EXPECT_EQ(EINVAL, requestError(system, fd.get(), VIDIOC_SUBDEV_S_FMT, &format));
    format = request(640, 480);
    format.which = 7;
    EXPECT_EQ(EINVAL, requestError(system, fd.get(), VIDIOC_SUBDEV_G_FMT, &format));
}

}  // namespace
}  // namespace contract
}  // namespace Quarvel
