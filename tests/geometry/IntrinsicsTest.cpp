// Intrinsics: nominal values, the distortion model and camera_info files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>

#include "geometry/CameraInfoFile.h"
#include "geometry/Intrinsics.h"
#include "sim/scene/Scene.h"

namespace Quarvel {
namespace {

const char* const kCameraInfo = R"(# written by a calibration tool
image_width: 640
image_height: 480
camera_name: quarvel_vga
camera_matrix:
  rows: 3
  cols: 3
  data: [512.5, 0, 321.25,
         0, 511.0, 238.75, 0, 0, 1]
distortion_model: plumb_bob
distortion_coefficients:
  rows: 1
  cols: 5
  data: [-0.25, 0.07, 0.001, -0.0005, -0.01]
rectification_matrix:
  rows: 3
  cols: 3
  data: [1, 0, 0, 0, 1, 0, 0, 0, 1]
)";

TEST(IntrinsicsTest, NominalValuesAreTheSimulatedCamerasPinhole) {
    for (const sim::CameraGeometry geometry :
         {sim::CameraGeometry{240, 180, 64.0}, sim::CameraGeometry{640, 480, 64.0}}) {
        const Intrinsics nominal = Intrinsics::nominal(geometry.width, geometry.height);
        const sim::Pinhole pinhole = sim::pinholeOf(geometry);
        EXPECT_DOUBLE_EQ(nominal.fx, pinhole.focal);
        EXPECT_DOUBLE_EQ(nominal.fy, pinhole.focal);
        EXPECT_DOUBLE_EQ(nominal.cx, pinhole.centreX);
        EXPECT_DOUBLE_EQ(nominal.cy, pinhole.centreY);
        EXPECT_TRUE(nominal.distortion.none());
    }
    EXPECT_NEAR(Intrinsics::nominal(240, 180).fx, 192.0401, 1e-3);
    EXPECT_NEAR(Intrinsics::nominal(640, 480).cy, 239.5, 1e-12);
}

TEST(IntrinsicsTest, UnprojectInvertsTheDistortionAcrossTheImage) {
    Intrinsics lens = Intrinsics::nominal(640, 480);
    lens.distortion = {-0.25, 0.07, 0.001, -0.0005, -0.01};
    double worst = 0;
    for (int v = 0; v < 480; v += 15) {
        for (int u = 0; u < 640; u += 15) {
            double x = 0, y = 0, pu = 0, pv = 0;
            lens.unproject(u, v, x, y);
            lens.project(x, y, pu, pv);
            worst = std::max({worst, std::fabs(pu - u), std::fabs(pv - v)});
        }
    }
    EXPECT_LT(worst, 1e-3);
    // Barrel distortion: the corner's ray leans out farther than the pinhole says.
    double x = 0, y = 0;
    lens.unproject(0, 0, x, y);
    EXPECT_LT(x, (0 - lens.cx) / lens.fx);
}

TEST(IntrinsicsTest, CameraInfoFileGivesMatrixAndDistortion) {
    Intrinsics intrinsics;
    std::string error;
    ASSERT_EQ(parseCameraInfo(kCameraInfo, intrinsics, error), 0) << error;
    EXPECT_EQ(intrinsics.width, 640);
    EXPECT_EQ(intrinsics.height, 480);
    EXPECT_DOUBLE_EQ(intrinsics.fx, 512.5);
    EXPECT_DOUBLE_EQ(intrinsics.fy, 511.0);
    EXPECT_DOUBLE_EQ(intrinsics.cx, 321.25);
    EXPECT_DOUBLE_EQ(intrinsics.cy, 238.75);
    EXPECT_DOUBLE_EQ(intrinsics.distortion.k1, -0.25);
    EXPECT_DOUBLE_EQ(intrinsics.distortion.p2, -0.0005);
    EXPECT_DOUBLE_EQ(intrinsics.distortion.k3, -0.01);
}

TEST(IntrinsicsTest, BrokenCameraInfoIsRefusedWithAReasonAndLeavesTheOutputAlone) {
    const std::string good = kCameraInfo;
    auto replaced = [&good](const std::string& from, const std::string& to) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    const struct {
        std::string text;
        const char* reason;
    } cases[] = {
        {replaced("image_width: 640", "image_width: -640"), "image_width"},
        {replaced("0, 0, 1]", "0, 0]"), "camera_matrix"},
        {replaced("plumb_bob", "equidistant"), "distortion_model"},
        {replaced("-0.01]", "-0.01, 0.2, 0.3]"), "distortion_coefficients"},
        {replaced("512.5", "-512.5"), "focal"},
        {replaced("camera_matrix:", "matrix:"), "camera_matrix"},
    };
    for (const auto& c : cases) {
        Intrinsics untouched = Intrinsics::nominal(2, 2);
        std::string error;
        EXPECT_EQ(parseCameraInfo(c.text, untouched, error), -1) << c.reason;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_EQ(untouched.width, 2);
    }
}

TEST(IntrinsicsTest, ResolutionTakesTheNamedFileOfTheRightSizeElseNominal) {
    const std::string path = ::testing::TempDir() + "quarvel_camera_info.yaml";
    std::ofstream(path) << kCameraInfo;
    Intrinsics intrinsics;
    std::string error;
    ASSERT_EQ(resolveIntrinsics(path, 640, 480, intrinsics, error), 0) << error;
    EXPECT_DOUBLE_EQ(intrinsics.fx, 512.5);
    EXPECT_EQ(resolveIntrinsics(path, 240, 180, intrinsics, error), -1);
    EXPECT_NE(error.find("calibrated for 640x480"), std::string::npos) << error;
    EXPECT_EQ(resolveIntrinsics(path + ".missing", 640, 480, intrinsics, error), -1);
    EXPECT_NE(error.find("cannot read"), std::string::npos) << error;
    ASSERT_EQ(resolveIntrinsics("", 240, 180, intrinsics, error), 0);
    EXPECT_DOUBLE_EQ(intrinsics.fx, Intrinsics::nominal(240, 180).fx);
    std::remove(path.c_str());
}

TEST(IntrinsicsTest, CalibrationPathsThatAreNoFileAreRefusedWithoutWaiting) {
    const std::string dir = ::testing::TempDir() + "quarvel_camera_info_paths";
    ::mkdir(dir.c_str(), 0755);
    const std::string fifo = dir + "/fifo.yaml";
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const std::string huge = dir + "/huge.yaml";
    std::ofstream(huge) << std::string(kMaxCameraInfoBytes + 1, '#');
    // A FIFO without writer would block a plain open for ever; the test would hang.
    for (const std::string& path : {fifo, dir, huge, std::string("/dev/zero")}) {
        Intrinsics untouched = Intrinsics::nominal(2, 2);
        std::string error;
        EXPECT_EQ(readCameraInfo(path, untouched, error), -1) << path;
        EXPECT_NE(error.find("cannot read '" + path + "'"), std::string::npos) << error;
        EXPECT_EQ(untouched.width, 2);
    }
    ::unlink(fifo.c_str());
    ::unlink(huge.c_str());
    ::rmdir(dir.c_str());
}

}  // namespace
}  // namespace Quarvel
