// CDR encoding of the ROS 2 messages a recording carries.
#include "recording/Ros2Messages.h"

#include <cmath>
#include <cstring>

namespace Quarvel {
namespace ros2 {

const char* const kImageName = "sensor_msgs/msg/Image";
const char* const kCameraInfoName = "sensor_msgs/msg/CameraInfo";

namespace {
const char* const kSeparator =
    "================================================================================\n";

const char* const kHeaderText =
    "builtin_interfaces/Time stamp\n"
    "string frame_id\n";
const char* const kTimeText =
    "int32 sec\n"
    "uint32 nanosec\n";

std::string withDependency(std::string text, const char* name, const char* body) {
    text += kSeparator;
    text += "MSG: ";
    text += name;
    text += "\n";
    text += body;
    return text;
}

// CDR: an encapsulation header (plain CDR, little-endian), then every primitive aligned to
// its size counted from the end of that header.
class CdrWriter {
public:
    explicit CdrWriter(std::vector<uint8_t>& out) : bytes(out) {
        bytes.clear();
        const uint8_t encapsulation[4] = {0x00, 0x01, 0x00, 0x00};
        bytes.insert(bytes.end(), encapsulation, encapsulation + 4);
    }
    void u8(uint8_t value) { bytes.push_back(value); }
    void u32(uint32_t value) { put(&value, 4); }
    void i32(int32_t value) { put(&value, 4); }
    void f64(double value) { put(&value, 8); }
    // Length counts the terminating NUL.
    void string(const std::string& text) {
        u32(static_cast<uint32_t>(text.size() + 1));
        bytes.insert(bytes.end(), text.begin(), text.end());
        bytes.push_back(0);
    }
    void header(const Header& header) {
        i32(header.sec);
        u32(header.nanosec);
        string(header.frameId);
    }
    void octets(const uint8_t* data, size_t size) {
        u32(static_cast<uint32_t>(size));
        bytes.insert(bytes.end(), data, data + size);
    }

private:
    // The machine is little-endian (every supported board is), so values go as they lie.
    void put(const void* value, size_t size) {
        while ((bytes.size() - 4) % size != 0) bytes.push_back(0);
        const uint8_t* from = static_cast<const uint8_t*>(value);
        bytes.insert(bytes.end(), from, from + size);
    }
    std::vector<uint8_t>& bytes;
};
}  // namespace

const std::string& imageSchema() {
    static const std::string text = withDependency(withDependency("std_msgs/Header header\n"
                                                                  "uint32 height\n"
                                                                  "uint32 width\n"
                                                                  "string encoding\n"
                                                                  "uint8 is_bigendian\n"
                                                                  "uint32 step\n"
                                                                  "uint8[] data\n",
                                                                  "std_msgs/Header", kHeaderText),
                                                   "builtin_interfaces/Time", kTimeText);
    return text;
}

const std::string& cameraInfoSchema() {
    static const std::string text =
        withDependency(withDependency(withDependency("std_msgs/Header header\n"
                                                     "uint32 height\n"
                                                     "uint32 width\n"
                                                     "string distortion_model\n"
                                                     "float64[] d\n"
                                                     "float64[9] k\n"
                                                     "float64[9] r\n"
                                                     "float64[12] p\n"
                                                     "uint32 binning_x\n"
                                                     "uint32 binning_y\n"
                                                     "sensor_msgs/RegionOfInterest roi\n",
                                                     "std_msgs/Header", kHeaderText),
                                      "builtin_interfaces/Time", kTimeText),
                       "sensor_msgs/RegionOfInterest",
                       "uint32 x_offset\n"
                       "uint32 y_offset\n"
                       "uint32 height\n"
                       "uint32 width\n"
                       "bool do_rectify\n");
    return text;
}

Header headerAt(uint64_t nanoseconds, const std::string& frameId) {
    Header header;
    header.sec = static_cast<int32_t>(nanoseconds / 1000000000u);
    header.nanosec = static_cast<uint32_t>(nanoseconds % 1000000000u);
    header.frameId = frameId;
    return header;
}

void encodeImage(const Header& header, uint32_t height, uint32_t width, const std::string& encoding,
                 uint32_t step, const uint8_t* data, std::vector<uint8_t>& out) {
    CdrWriter cdr(out);
    cdr.header(header);
    cdr.u32(height);
    cdr.u32(width);
    cdr.string(encoding);
    cdr.u8(0);  // little-endian samples
    cdr.u32(step);
    cdr.octets(data, static_cast<size_t>(height) * step);
}

void encodeCameraInfo(const Header& header, const CameraModel& model, std::vector<uint8_t>& out) {
    CdrWriter cdr(out);
    cdr.header(header);
    cdr.u32(model.height);
    cdr.u32(model.width);
    cdr.string(model.distortionModel);
    cdr.u32(static_cast<uint32_t>(model.d.size()));
    for (double value : model.d) cdr.f64(value);
    for (double value : model.k) cdr.f64(value);
    for (double value : model.r) cdr.f64(value);
    for (double value : model.p) cdr.f64(value);
    cdr.u32(0);                              // binning_x
    cdr.u32(0);                              // binning_y
    for (int i = 0; i < 4; ++i) cdr.u32(0);  // roi: the full image
    cdr.u8(0);                               // roi.do_rectify
}

CameraModel cameraModelOf(const Intrinsics& lens) {
    CameraModel model;
    model.width = lens.width > 0 ? static_cast<uint32_t>(lens.width) : 0u;
    model.height = lens.height > 0 ? static_cast<uint32_t>(lens.height) : 0u;
    const double k[9] = {lens.fx, 0, lens.cx, 0, lens.fy, lens.cy, 0, 0, 1};
    const double r[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    const double p[12] = {lens.fx, 0, lens.cx, 0, 0, lens.fy, lens.cy, 0, 0, 0, 1, 0};
    std::memcpy(model.k, k, sizeof k);
    std::memcpy(model.r, r, sizeof r);
    std::memcpy(model.p, p, sizeof p);
    const Distortion& d = lens.distortion;
    model.d = {d.k1, d.k2, d.p1, d.p2, d.k3};
    return model;
}

}  // namespace ros2
}  // namespace Quarvel
