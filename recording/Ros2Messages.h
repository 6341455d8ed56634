// ROS 2 messages in CDR (little-endian) with their ros2msg schema texts: the depth and
// amplitude images and the camera's intrinsics, as robotics tools open them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "geometry/Intrinsics.h"

namespace Quarvel {
namespace ros2 {

// Schema names and texts (dependencies appended the way ros2msg schemas carry them).
extern const char* const kImageName;       // "sensor_msgs/msg/Image"
extern const char* const kCameraInfoName;  // "sensor_msgs/msg/CameraInfo"
const std::string& imageSchema();
const std::string& cameraInfoSchema();

struct Header {
    int32_t sec = 0;
    uint32_t nanosec = 0;
    std::string frameId;
};

// A stamp from nanoseconds since the epoch.
Header headerAt(uint64_t nanoseconds, const std::string& frameId);

// sensor_msgs/msg/Image of `height` rows of `step` bytes; `data` holds height x step bytes.
void encodeImage(const Header& header, uint32_t height, uint32_t width, const std::string& encoding,
                 uint32_t step, const uint8_t* data, std::vector<uint8_t>& out);

// sensor_msgs/msg/CameraInfo from plain values: K row-major 3x3, R 3x3, P 3x4, D any length.
struct CameraModel {
    uint32_t width = 0, height = 0;
    std::string distortionModel = "plumb_bob";
    std::vector<double> d;
    double k[9] = {}, r[9] = {}, p[12] = {};
};
void encodeCameraInfo(const Header& header, const CameraModel& model, std::vector<uint8_t>& out);

// camera_info of a lens: K and P from its pinhole, D in plumb_bob order (k1 k2 p1 p2 k3),
// R the identity (a single camera, nothing rectified).
CameraModel cameraModelOf(const Intrinsics& lens);

}  // namespace ros2
}  // namespace Quarvel
