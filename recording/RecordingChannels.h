// The channels and metadata of a camera recording, shared by the recorder and playback.
#pragma once

namespace Quarvel {
namespace recording {

// Every frame's sub-frames exactly as the sensor delivered them into the cache: 16-bit
// little-endian samples, sub-frames one after the other. Log time: the recorder's system
// clock in ns; publish time: the sensor's frame timestamp (ms) times 1e6. The sequence
// counts every frame the recorder saw, so a gap is a frame it dropped.
constexpr const char* kRawTopic = "/quarvel/raw";
constexpr const char* kRawEncoding = "quarvel.raw16";
// sensor_msgs/msg/Image, 32FC1: depth in metres (ROS's unit), amplitude in the device's units.
constexpr const char* kDepthTopic = "/quarvel/depth";
constexpr const char* kAmplitudeTopic = "/quarvel/amplitude";
// sensor_msgs/msg/CameraInfo of the depth image.
constexpr const char* kCameraInfoTopic = "/quarvel/camera_info";
// Control changes with their times and results, JSON: {"control":"RANGE","value":2000,"status":0}.
constexpr const char* kControlsTopic = "/quarvel/controls";
// Metadata record with the camera's description and its sensor's controls at stream start.
constexpr const char* kCameraMetadata = "quarvel.camera";

// Keys of the raw channel's metadata (and of the camera metadata).
constexpr const char* kWidthKey = "width";          // samples per line
constexpr const char* kHeightKey = "height";        // lines of one sub-frame
constexpr const char* kSubframesKey = "subframes";  // sub-frames per frame
constexpr const char* kBitWidthKey = "bit_width";
constexpr const char* kBytesPerSampleKey = "bpp";

constexpr const char* kDepthFrameId = "quarvel_depth";

}  // namespace recording
}  // namespace Quarvel
