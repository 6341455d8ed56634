// The USB transport against the simulated camera: grouping by timestamp, missed captures,
// frame sizes, sample conversions, range registers, open parameters and lifecycle.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <ostream>
#include <thread>
#include <vector>

#include "sdk/usb/quarvel_evk_sdk.h"
#include "sensor/QuarvelTOFUSBSensor.h"
#include "tests/support/Waits.h"
#include "tests/usb/UsbTestSupport.h"

using namespace Quarvel;
using usbtest::putWord;
using usbtest::rangeTables;
using usbtest::registerLog;
using usbtest::wordAt;

namespace {

constexpr size_t kPixels = 240 * 180;
constexpr size_t kSubframeBytes = 2 * kPixels;  // one 12-bit sub-frame in 16-bit words
constexpr uint8_t kUntouched = 0xA5;
// A scripted 12-bit frame whose every sample is `value`.
void queueUniform(uint64_t timestampMs, uint16_t value, size_t bytes = kSubframeBytes) {
    std::vector<uint8_t> frame(bytes);
    for (size_t i = 0; i + 1 < bytes; i += 2) putWord(frame, i / 2, value);
    ASSERT_EQ(QuarvelSimQueueFrame(timestampMs, frame.data(), static_cast<uint32_t>(bytes)), 0);
}

// The uniform value of each sub-frame slot of dst, -1 where untouched, {-2} if one is torn.
std::vector<int> slotValues(const std::vector<uint8_t>& dst) {
    std::vector<int> values;
    for (size_t first = 0; first + kPixels <= dst.size() / 2; first += kPixels) {
        const uint16_t value = wordAt(dst, first);
        for (size_t i = first; i < first + kPixels; ++i) {
            if (wordAt(dst, i) != value) return {-2};
        }
        values.push_back(value == kUntouched * 0x101 ? -1 : value);
    }
    return values;
}

class UsbTransport : public ::testing::Test {
protected:
    void TearDown() override {
        for (auto& sensor : sensors) sensor->close();
    }

    QuarvelTOFUSBSensor& sensorFor(const std::string& path) {
        sensors.push_back(std::make_unique<QuarvelTOFUSBSensor>(path, 0));
        return *sensors.back();
    }

    // Opens a transport on a camera described by `description` and starts it.
    QuarvelTOFUSBSensor& startedSensor(const std::string& description) {
        QuarvelTOFUSBSensor& sensor = sensorFor(scratch.write("camera.conf", description));
        CameraInfo info{};
        EXPECT_EQ(sensor.open(info), 0);
        sensor.subframeCount = 4;
        EXPECT_EQ(sensor.start(), 0);
        return sensor;
    }

    usbtest::ScratchDirectory scratch;
    std::vector<std::unique_ptr<QuarvelTOFUSBSensor>> sensors;
};

}  // namespace

// A group that lacks a sub-frame because a capture failed is no frame (-1): its slot
// would still hold an older frame's samples. A missed capture before a fresh group is harmless.
TEST_F(UsbTransport, GroupsByTimestampAndFailsAGroupWithAMissedCapture) {
    constexpr uint64_t kMissed = 0;
    struct Case {
        const char* name;
        std::vector<uint64_t> script;  // frames numbered 1, 2, ... in order; kMissed fails
        int status;
        std::vector<int> slots;
        uint64_t timestamp;
    } cases[] = {
        {"step of 6 restarts", {100, 102, 104, 110, 112, 114, 116}, 0, {4, 5, 6, 7}, 116},
        {"step of 5 keeps", {100, 105, 110, 115}, 0, {1, 2, 3, 4}, 115},
        {"step back restarts", {100, 102, 101, 103, 105, 107}, 0, {3, 4, 5, 6}, 107},
        // A missed capture takes no room: later sub-frames close up, the last slot is stale.
        {"missed in the middle", {100, kMissed, 102, 104}, -1, {1, 2, 3, -1}, 104},
        {"missed last keeps the timestamp", {200, 202, 204, kMissed}, -1, {1, 2, 3, -1}, 204},
        {"missed first, fresh group", {kMissed, 300, 302, 304, 306}, 0, {1, 2, 3, 4}, 306},
        // Times past 32 bits: the difference is taken in 64 bits, a step of 2^32 + 2 is no
        // step of 2.
        {"times across 2^32 keep",
         {0xFFFFFFFEull, 0x100000000ull, 0x100000002ull, 0x100000004ull},
         0,
         {1, 2, 3, 4},
         0x100000004ull},
        {"step of 2^32 + 2 restarts",
         {100, 0x100000066ull, 0x100000068ull, 0x10000006Aull, 0x10000006Cull},
         0,
         {2, 3, 4, 5},
         0x10000006Cull},
    };
    for (const Case& c : cases) {
        QuarvelTOFUSBSensor& sensor = startedSensor("");
        uint16_t value = 0;
        for (uint64_t time : c.script) {
            if (time == kMissed) {
                ASSERT_EQ(QuarvelSimQueueMissedCapture(), 0);
            } else {
                queueUniform(time, ++value);
            }
        }
        std::vector<uint8_t> dst(4 * kSubframeBytes, kUntouched);
        uint64_t timestamp = 0;
        ASSERT_EQ(sensor.getFrame(dst.data(), &timestamp), c.status) << c.name;
        EXPECT_EQ(slotValues(dst), c.slots) << c.name;
        EXPECT_EQ(timestamp, c.timestamp) << c.name;
        EXPECT_EQ(QuarvelSimFramesLent(), 0) << c.name;
        EXPECT_EQ(sensor.close(), 0);
    }
}

TEST_F(UsbTransport, FrameOfTheWrongSizeFailsAndIsHandedBack) {
    QuarvelTOFUSBSensor& sensor = startedSensor("");
    std::vector<uint8_t> dst(4 * kSubframeBytes);
    uint64_t timestamp = 0;
    for (size_t badSize : {kSubframeBytes - 2, kSubframeBytes + 2, size_t{0}}) {
        queueUniform(100, 1);  // a good first sub-frame does not rescue the group
        queueUniform(102, 2, badSize);
        EXPECT_EQ(sensor.getFrame(dst.data(), &timestamp), -1) << badSize;
        EXPECT_EQ(QuarvelSimFramesLent(), 0);
    }
}

// Each bit width the camera can report: bytes per SDK sample, its mask, the 12-bit result.
struct Conversion {
    int bitWidth;
    size_t sourceBytesPerSample;
    uint16_t sourceMask;
    uint16_t (*expected)(uint16_t);
};
void PrintTo(const Conversion& c, std::ostream* out) { *out << c.bitWidth << "-bit samples"; }
class UsbSampleConversion : public UsbTransport,
                            public ::testing::WithParamInterface<Conversion> {};

TEST_P(UsbSampleConversion, EverySubframeIsConvertedInPlaceOfItsSlot) {
    const Conversion c = GetParam();
    QuarvelTOFUSBSensor& sensor = startedSensor("bit_width = " + std::to_string(c.bitWidth) + "\n");
    EXPECT_EQ(sensor.getCameraInfo().bit_width, static_cast<uint32_t>(c.bitWidth));
    EXPECT_EQ(sensor.getCameraInfo().bpp, c.sourceBytesPerSample);

    std::vector<uint16_t> sources(4 * kPixels);
    for (int k = 0; k < 4; ++k) {
        std::vector<uint8_t> frame(kPixels * c.sourceBytesPerSample);
        for (size_t i = 0; i < kPixels; ++i) {
            const uint16_t value =
                static_cast<uint16_t>((i * 2654435761u + k * 40503u) >> 7) & c.sourceMask;
            sources[k * kPixels + i] = value;
            if (c.sourceBytesPerSample == 1)
                frame[i] = static_cast<uint8_t>(value);
            else
                putWord(frame, i, value);
        }
        ASSERT_EQ(QuarvelSimQueueFrame(500 + 2 * k, frame.data(), uint32_t(frame.size())), 0);
    }
    // Room for four sub-frames plus a guard zone that must stay untouched.
    std::vector<uint8_t> dst(4 * kSubframeBytes + 64, kUntouched);
    uint64_t timestamp = 0;
    ASSERT_EQ(sensor.getFrame(dst.data(), &timestamp), 0);
    EXPECT_EQ(timestamp, 506u);
    for (size_t i = 0; i < 4 * kPixels; ++i) {
        ASSERT_EQ(wordAt(dst, i), c.expected(sources[i])) << "sample " << i;
    }
    for (size_t i = 4 * kSubframeBytes; i < dst.size(); ++i) ASSERT_EQ(dst[i], kUntouched);
}

INSTANTIATE_TEST_SUITE_P(
    BitWidths, UsbSampleConversion,
    ::testing::Values(
        Conversion{8, 1, 0xFF, [](uint16_t v) { return static_cast<uint16_t>(v * 16); }},
        Conversion{10, 2, 0x3FF, [](uint16_t v) { return static_cast<uint16_t>(v << 2); }},
        Conversion{12, 2, 0xFFF, [](uint16_t v) { return v; }},
        Conversion{14, 2, 0x3FFF, [](uint16_t v) { return static_cast<uint16_t>(v >> 2); }}),
    [](const auto& info) { return "Bits" + std::to_string(info.param.bitWidth); });

TEST(UsbSampleConversionBounds, NothingIsWrittenBeyondTheDestination) {
    const std::vector<uint8_t> source(100, 0x12);
    std::vector<uint8_t> dst(199, kUntouched);
    // 8-bit samples need 200 bytes of output: one too many for this buffer.
    EXPECT_EQ(QuarvelTOFUSBSensor::convertSamples(source.data(), 100, 8, 1, dst.data(), 199), 200u);
    EXPECT_EQ(QuarvelTOFUSBSensor::convertSamples(source.data(), 100, 10, 2, dst.data(), 99), 100u);
    EXPECT_EQ(QuarvelTOFUSBSensor::convertSamples(source.data(), 100, 12, 2, nullptr, 0), 100u);
    // A width the table does not know advances by the source size and writes nothing.
    EXPECT_EQ(QuarvelTOFUSBSensor::convertSamples(source.data(), 100, 6, 1, dst.data(), 199), 100u);
    for (uint8_t byte : dst) ASSERT_EQ(byte, kUntouched);
}

TEST(UsbSampleConversionBounds, WidthsFarAbove12GiveZeroAndAnEmptyFrameIsNeverRead) {
    const std::vector<uint8_t> source(8, 0xFF);  // words 0xFFFF
    for (const auto& [bitWidth, sample] :
         {std::pair<uint32_t, uint16_t>{27, 1}, {28, 0}, {43, 0}, {44, 0}, {255, 0}}) {
        std::vector<uint8_t> dst(8, kUntouched);
        EXPECT_EQ(QuarvelTOFUSBSensor::convertSamples(source.data(), 8, bitWidth, 2, dst.data(), 8),
                  8u);
        for (size_t i = 0; i < 4; ++i) {
            ASSERT_EQ(wordAt(dst, i), sample) << "bit width " << bitWidth << ", sample " << i;
        }
    }
    // A frame of no bytes may come without pixel data: nothing is read, nothing written.
    std::vector<uint8_t> dst(8, kUntouched);
    EXPECT_EQ(QuarvelTOFUSBSensor::convertSamples(nullptr, 0, 12, 2, dst.data(), 8), 0u);
    EXPECT_EQ(QuarvelTOFUSBSensor::convertSamples(nullptr, 0, 8, 1, dst.data(), 8), 0u);
    for (uint8_t byte : dst) ASSERT_EQ(byte, kUntouched);
}

TEST_F(UsbTransport, RangeWritesItsRegisterTableByteForByteAndOtherControlsNothing) {
    QuarvelTOFUSBSensor& sensor = startedSensor("");
    EXPECT_TRUE(registerLog().empty());
    for (int value : {2000, 4000, 3000, 1999, 0}) {
        EXPECT_EQ(sensor.setControl(CameraCtrl::RANGE, value), 0);
    }
    EXPECT_EQ(registerLog(), rangeTables({2000, 4000, 4000, 4000, 4000}));
    for (CameraCtrl ctrl : {CameraCtrl::FMT_WIDTH, CameraCtrl::FMT_HEIGHT, CameraCtrl::MODE,
                            CameraCtrl::EXPOSURE, CameraCtrl::FRAME_RATE}) {
        EXPECT_EQ(sensor.setControl(ctrl, 2000), 1);
    }
    EXPECT_EQ(registerLog().size(), 60u);
    // The SDK cannot read controls back: not implemented, the value left alone.
    int value = 1234;
    EXPECT_EQ(sensor.getControl(CameraCtrl::RANGE, &value), 4);
    EXPECT_EQ(value, 1234);
}

TEST_F(UsbTransport, OpenHandsThePathAndItsBinFlagToTheSdkAndKeepsTheCameraFields) {
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(scratch.directory().c_str()), 0);
    // Relative names from the scratch directory, down to fewer characters than ".bin";
    // the empty path is the default camera.
    struct Case {
        const char* path;
        int flag;
    } cases[] = {{"camera.bin", 1},
                 {"camera.conf", 0},
                 {"camera.bin.txt", 0},
                 {"x.BIN", 0},
                 {"abc", 0},
                 {".bin", 1},
                 {"", 0}};
    for (const Case& c : cases) {
        if (*c.path) scratch.write(c.path, "noise = off\n");
        QuarvelTOFUSBSensor& sensor = sensorFor(c.path);
        CameraInfo info{};
        info.index = 7;
        EXPECT_EQ(sensor.open(info), 0) << c.path;
        for (const CameraInfo& seen : {info, sensor.getCameraInfo()}) {
            EXPECT_EQ(seen.width, 240u);
            EXPECT_EQ(seen.height, 180u);
            EXPECT_EQ(seen.bit_width, 12u);
            EXPECT_EQ(seen.bpp, 2u);
            EXPECT_EQ(seen.index, 7u);  // the camera's own field is left alone
        }
        char path[64] = "unchanged";
        int flag = -1;
        ASSERT_EQ(QuarvelSimLastOpenParam(path, sizeof path, &flag), 0);
        EXPECT_STREQ(path, c.path);
        EXPECT_EQ(flag, c.flag) << c.path;
        EXPECT_EQ(sensor.close(), 0);
    }
    // A name shorter than the suffix that names no file: simply not found.
    CameraInfo info{};
    testing::internal::CaptureStderr();
    EXPECT_EQ(sensorFor("ab").open(info), -1);
    testing::internal::GetCapturedStderr();
    ASSERT_EQ(chdir(previous), 0);
}

TEST_F(UsbTransport, MissingOrMalformedDescriptionFailsWithAMessageAndLeavesNothingOpen) {
    const std::string missing = scratch.directory() + "/missing.conf";
    const std::string bad = scratch.write("bad.conf", "fps = 30\nbit_width = 9\n");
    const std::pair<std::string, std::string> cases[] = {
        {missing, "cannot open camera: cannot read '" + missing + "'"},
        {bad, "cannot open camera: " + bad + ": line 2: bit_width must be 8, 10, 12 or 14"}};
    for (const auto& [path, message] : cases) {
        QuarvelTOFUSBSensor& sensor = sensorFor(path);
        CameraInfo info{};
        testing::internal::CaptureStderr();
        EXPECT_EQ(sensor.open(info), -1);
        const std::string printed = testing::internal::GetCapturedStderr();
        EXPECT_NE(printed.find(message), std::string::npos) << printed;
        EXPECT_EQ(sensor.start(), -1);
        EXPECT_EQ(sensor.close(), 0);
    }
    CameraInfo info{};
    EXPECT_EQ(sensorFor("").open(info), 0);
}

TEST_F(UsbTransport, LifecycleFollowsTheStreamingStateWithOneCameraAtATime) {
    QuarvelTOFUSBSensor& sensor = sensorFor("");
    QuarvelTOFUSBSensor& second = sensorFor("");
    CameraInfo info{};
    ASSERT_EQ(sensor.open(info), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(second.open(info), -1);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("already open"), std::string::npos);
    EXPECT_EQ(second.start(), -1);  // it has no camera
    EXPECT_EQ(second.close(), 0);

    // Not streaming: getFrame counts empty passes, writes nothing and returns at once.
    sensor.subframeCount = 4;
    std::vector<uint8_t> dst(4 * kSubframeBytes, kUntouched);
    uint64_t timestamp = 77;
    EXPECT_EQ(sensor.getFrame(dst.data(), &timestamp), 0);
    EXPECT_EQ(timestamp, 77u);
    EXPECT_EQ(slotValues(dst), (std::vector<int>{-1, -1, -1, -1}));
    EXPECT_EQ(sensor.start(), 0);
    EXPECT_EQ(sensor.start(), -1);
    ASSERT_EQ(sensor.getFrame(dst.data(), &timestamp), 0);
    EXPECT_NE(timestamp, 77u);
    EXPECT_EQ(sensor.stop(), 0);
    EXPECT_EQ(sensor.start(), 0);
    EXPECT_EQ(sensor.close(), 0);
    EXPECT_EQ(sensor.close(), 0);
    EXPECT_EQ(QuarvelSimFramesLent(), 0);
    EXPECT_EQ(second.open(info), 0);  // the camera is free again
}

TEST(UsbStandInSdk, CaptureTimesOutAndCloseWakesAWaiterAndRetiresTheHandle) {
    alignas(8) uint8_t param[QUARVEL_OPEN_PARAM_SIZE] = {};
    QuarvelCameraHandle handle = nullptr;
    // Records not prepared by QuarvelDefaultParam are refused.
    testing::internal::CaptureStderr();
    EXPECT_NE(QuarvelOpenCamera(&handle, param), 0);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("QuarvelDefaultParam"),
              std::string::npos);
    EXPECT_EQ(handle, nullptr);

    ASSERT_EQ(QuarvelDefaultParam(param), 0);
    ASSERT_EQ(QuarvelOpenCamera(&handle, param), 0);
    ASSERT_EQ(QuarvelInitCamera(handle), 0);
    QuarvelImageFrame frame{};
    EXPECT_EQ(QuarvelCaptureImage(handle, &frame, 50), QUARVEL_EVK_TIMEOUT);  // not started
    // A waiter left waiting would time out instead of being told the camera is gone.
    std::atomic<int> result{1};
    const uint64_t capturesBefore = QuarvelSimCallCount("QuarvelCaptureImage");
    std::thread waiter([&] { result = QuarvelCaptureImage(handle, &frame, 2000); });
    // Closing before the waiter has reached the camera would test a closed handle instead;
    // on a loaded machine (qemu) the thread can take a while to get there.
    EXPECT_TRUE(support::eventually(
        [&] { return QuarvelSimCallCount("QuarvelCaptureImage") != capturesBefore; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(QuarvelCloseCamera(handle), 0);
    waiter.join();
    EXPECT_EQ(result.load(), QUARVEL_EVK_NOT_READY);
    EXPECT_EQ(QuarvelStartCamera(handle), QUARVEL_EVK_ERROR);
    EXPECT_EQ(QuarvelCaptureImage(handle, &frame, 10), QUARVEL_EVK_ERROR);
    EXPECT_EQ(QuarvelCloseCamera(handle), QUARVEL_EVK_ERROR);
}

TEST(UsbStandInSdk, ImageRecordFieldsSitAtTheirByteOffsetsOnThisTarget) {
    // 48 bytes, 8-byte aligned, whatever the pointer size: the pointer at offset 28 is 4
    // bytes on 32-bit ARM and 8 (unaligned) on 64-bit targets, inside the record either way.
    static_assert(sizeof(QuarvelImageFrame) == QUARVEL_IMAGE_FRAME_SIZE, "48-byte record");
    static_assert(alignof(QuarvelImageFrame) == 8, "8-byte aligned record");
    static_assert(QUARVEL_IMAGE_FRAME_DATA + sizeof(void*) <= QUARVEL_IMAGE_FRAME_SIZE,
                  "the pixel pointer lies inside the record");
    alignas(8) uint8_t param[QUARVEL_OPEN_PARAM_SIZE];
    QuarvelDefaultParam(param);
    QuarvelCameraHandle handle = nullptr;
    ASSERT_EQ(QuarvelOpenCamera(&handle, param), 0);
    ASSERT_EQ(QuarvelInitCamera(handle), 0);
    ASSERT_EQ(QuarvelStartCamera(handle), 0);
    const uint8_t pixels[6] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
    const uint64_t time = 0x123456789ABull;  // more than 32 bits
    ASSERT_EQ(QuarvelSimQueueFrame(time, pixels, sizeof pixels), 0);
    QuarvelImageFrame frame{};
    ASSERT_EQ(QuarvelCaptureImage(handle, &frame, 100), 0);
    const auto* record = reinterpret_cast<const uint8_t*>(frame.bytes);
    uint64_t timestamp = 0;
    uint32_t size = 0;
    const uint8_t* data = nullptr;
    std::memcpy(&timestamp, record + QUARVEL_IMAGE_FRAME_TIMESTAMP, sizeof timestamp);
    std::memcpy(&size, record + QUARVEL_IMAGE_FRAME_DATA_SIZE, sizeof size);
    std::memcpy(&data, record + QUARVEL_IMAGE_FRAME_DATA, sizeof data);
    EXPECT_EQ(timestamp, time);
    EXPECT_EQ(size, sizeof pixels);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(data, data + size),
              std::vector<uint8_t>(pixels, pixels + sizeof pixels));
    EXPECT_EQ(QuarvelFreeImage(handle, frame), 0);
    EXPECT_EQ(QuarvelCloseCamera(handle), 0);
}

TEST(UsbStandInSdk, FramesAreLentUntilFreedAndForeignRecordsAreRefused) {
    alignas(8) uint8_t param[QUARVEL_OPEN_PARAM_SIZE];
    QuarvelDefaultParam(param);
    QuarvelCameraHandle handle = nullptr;
    ASSERT_EQ(QuarvelOpenCamera(&handle, param), 0);
    ASSERT_EQ(QuarvelInitCamera(handle), 0);
    ASSERT_EQ(QuarvelStartCamera(handle), 0);
    QuarvelImageFrame frames[5] = {};
    for (int i = 0; i < 5; ++i) ASSERT_EQ(QuarvelSimQueueFrame(10 + i, "\1\2", 2), 0);
    for (int i = 0; i < 4; ++i) ASSERT_EQ(QuarvelCaptureImage(handle, &frames[i], 100), 0);
    EXPECT_EQ(QuarvelSimFramesLent(), 4);
    EXPECT_EQ(QuarvelCaptureImage(handle, &frames[4], 100), QUARVEL_EVK_NO_BUFFER);
    QuarvelImageFrame forged = frames[0];
    forged.bytes[0] = 99;
    EXPECT_EQ(QuarvelFreeImage(handle, forged), QUARVEL_EVK_ERROR);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(QuarvelFreeImage(handle, frames[i]), 0);
    EXPECT_EQ(QuarvelFreeImage(handle, frames[0]), QUARVEL_EVK_ERROR);  // twice
    EXPECT_EQ(QuarvelSimFramesLent(), 0);
    EXPECT_EQ(QuarvelCloseCamera(handle), 0);
}
