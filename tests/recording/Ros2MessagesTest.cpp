// The CDR bytes of the ROS 2 messages, laid out by hand from the CDR rules.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "recording/Ros2Messages.h"

using namespace Quarvel;

TEST(Ros2Image, CdrBytesFollowTheAlignmentRules) {
    const float samples[2] = {1.5f, -2.0f};
    std::vector<uint8_t> bytes;
    ros2::encodeImage(ros2::headerAt(1000000002ull, "ab"), 1, 2, "32FC1", 8,
                      reinterpret_cast<const uint8_t*>(samples), bytes);
    // clang-format off
    std::vector<uint8_t> expected = {
        0x00, 0x01, 0x00, 0x00,              // CDR, little-endian
        1, 0, 0, 0, 2, 0, 0, 0,              // stamp: 1 s, 2 ns
        3, 0, 0, 0, 'a', 'b', 0, 0,          // frame_id with its NUL, padded to 4
        1, 0, 0, 0, 2, 0, 0, 0,              // height, width
        6, 0, 0, 0, '3', '2', 'F', 'C', '1', 0,
        0,                                   // is_bigendian
        0,                                   // padding to the step's 4-byte place
        8, 0, 0, 0,                          // step
        8, 0, 0, 0};                         // data length
    // clang-format on
    const uint8_t* raw = reinterpret_cast<const uint8_t*>(samples);
    expected.insert(expected.end(), raw, raw + 8);
    EXPECT_EQ(bytes, expected);
}

TEST(Ros2CameraInfo, DoublesAreAlignedToEightAndTheRoiCloses) {
    Intrinsics lens = Intrinsics::nominal(240, 180);
    lens.fx = 120.0;
    lens.fy = 121.0;
    lens.distortion.k1 = -0.25;
    lens.distortion.k3 = 0.125;
    ros2::CameraModel model = ros2::cameraModelOf(lens);
    std::vector<uint8_t> bytes;
    ros2::encodeCameraInfo(ros2::headerAt(0, ""), model, bytes);
    // header 4 + stamp 8 + frame_id 5 (pad 3) + height/width 8 + "plumb_bob" 14 (pad 2)
    // + d count 4 = 44, padded to 48 for the first double.
    const size_t dAt = 4 + 48;
    ASSERT_GE(bytes.size(), dAt + 8 * (5 + 9 + 9 + 12) + 4 * 6 + 1);
    double d[5], k[9], p[12];
    std::memcpy(d, bytes.data() + dAt, sizeof d);
    std::memcpy(k, bytes.data() + dAt + 8 * 5, sizeof k);
    std::memcpy(p, bytes.data() + dAt + 8 * (5 + 9 + 9), sizeof p);
    EXPECT_DOUBLE_EQ(d[0], -0.25);
    EXPECT_DOUBLE_EQ(d[4], 0.125);
    // The lens's pinhole, principal point at the centre.
    EXPECT_DOUBLE_EQ(k[0], 120.0);
    EXPECT_DOUBLE_EQ(k[2], 119.5);
    EXPECT_DOUBLE_EQ(k[4], 121.0);
    EXPECT_DOUBLE_EQ(k[5], 89.5);
    EXPECT_DOUBLE_EQ(k[8], 1.0);
    EXPECT_DOUBLE_EQ(p[0], 120.0);
    EXPECT_DOUBLE_EQ(p[6], 89.5);
    EXPECT_DOUBLE_EQ(p[10], 1.0);
    EXPECT_EQ(bytes.size(), dAt + 8 * (5 + 9 + 9 + 12) + 4 * 6 + 1);
}

TEST(Ros2Schemas, CarryTheirDependenciesByName) {
    const std::string& image = ros2::imageSchema();
    EXPECT_EQ(image.rfind("std_msgs/Header header\n", 0), 0u);
    EXPECT_NE(image.find("\nMSG: std_msgs/Header\n"), std::string::npos);
    EXPECT_NE(image.find("\nMSG: builtin_interfaces/Time\nint32 sec\nuint32 nanosec\n"),
              std::string::npos);
    EXPECT_NE(ros2::cameraInfoSchema().find("\nMSG: sensor_msgs/RegionOfInterest\n"),
              std::string::npos);
}
