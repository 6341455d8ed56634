// The USB transport against the simulated camera: grouping by timestamp, missed captures,
// frame sizes, sample conversions, range registers, open parameters and lifecycle.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <ostream>
#include <thread>
#include <vector>

#include "sdk/usb/quarvel_evk_sdk.h"
#include "sdk/usb/quarvel_evk_sim.h"
#include "sensor/QuarvelTOFUSBSensor.h"
#include "tests/usb/UsbTestSupport.h"

using namespace Quarvel;
using usbtest::putWord;
using usbtest::wordAt;

namespace {

constexpr size_t kPixels = 240 * 180;
constexpr size_t kSubframeBytes = 2 * kPixels;  // one 12-bit sub-frame in 16-bit words
constexpr uint8_t kUntouched = 0xA5;

class UsbTransport : public ::testing::Test {
protected:
    void TearDown() override {
        for (auto& sensor : sensors) sensor->close();
    }

    // Opens a transport on a camera described by `description` and starts it.
    QuarvelTOFUSBSensor& startedSensor(const std::string& description, int subframes = 4) {
        QuarvelTOFUSBSensor& sensor = sensorFor(scratch.write("camera.conf", description));
        CameraInfo info{};
        EXPECT_EQ(sensor.open(info), 0);
        sensor.subframeCount = subframes;
        EXPECT_EQ(sensor.start(), 0);
        return sensor;
    }

    QuarvelTOFUSBSensor& sensorFor(const std::string& path) {
        sensors.push_back(std::make_unique<QuarvelTOFUSBSensor>(path, 0));
        return *sensors.back();
    }

    // A scripted 12-bit frame whose every sample is `value`.
    static void queueUniform(uint64_t timestampMs, uint16_t value, size_t bytes = kSubframeBytes) {
        std::vector<uint8_t> frame(bytes);
        for (size_t i = 0; i + 1 < bytes; i += 2) putWord(frame, i / 2, value);
        ASSERT_EQ(QuarvelSimQueueFrame(timestampMs, frame.data(), static_cast<uint32_t>(bytes)), 0);
    }

    // The uniform value of each sub-frame slot of dst, or -1 where it was not written.
    static std::vector<int> slotValues(const std::vector<uint8_t>& dst, int subframes) {
        std::vector<int> values;
        for (int k = 0; k < subframes; ++k) {
            const size_t first = k * kPixels;
            if (dst[2 * first] == kUntouched && dst[2 * first + 1] == kUntouched) {
                values.push_back(-1);
                continue;
            }
            const uint16_t value = wordAt(dst, first);
            for (size_t i = first; i < first + kPixels; ++i) {
                if (wordAt(dst, i) != value) return {-2};  // torn sub-frame
            }
            values.push_back(value);
        }
        return values;
    }

    usbtest::ScratchDirectory scratch;
    std::vector<std::unique_ptr<QuarvelTOFUSBSensor>> sensors;
};

std::vector<uint8_t> frameBuffer(int subframes) {
    return std::vector<uint8_t>(kSubframeBytes * subframes, kUntouched);
}

}  // namespace

TEST_F(UsbTransport, StepOfSixMillisecondsOrMoreStartsANewGroup) {
    QuarvelTOFUSBSensor& sensor = startedSensor("");
    const uint64_t times[] = {100, 102, 104, 110, 112, 114, 116};
    for (int i = 0; i < 7; ++i) queueUniform(times[i], static_cast<uint16_t>(i + 1));
    std::vector<uint8_t> dst = frameBuffer(4);
    uint64_t timestamp = 0;
    ASSERT_EQ(sensor.getFrame(dst.data(), &timestamp), 0);
    EXPECT_EQ(slotValues(dst, 4), (std::vector<int>{4, 5, 6, 7}));
    EXPECT_EQ(timestamp, 116u);
}

TEST_F(UsbTransport, StepOfFiveMillisecondsKeepsTheGroup) {
    QuarvelTOFUSBSensor& sensor = startedSensor("");
    const uint64_t times[] = {100, 105, 110, 115};
    for (int i = 0; i < 4; ++i) queueUniform(times[i], static_cast<uint16_t>(i + 1));
    std::vector<uint8_t> dst = frameBuffer(4);
    uint64_t timestamp = 0;
    ASSERT_EQ(sensor.getFrame(dst.data(), &timestamp), 0);
    EXPECT_EQ(slotValues(dst, 4), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(timestamp, 115u);
}

TEST_F(UsbTransport, TimestampGoingBackStartsANewGroup) {
    QuarvelTOFUSBSensor& sensor = startedSensor("");
    const uint64_t times[] = {100, 102, 101, 103, 105, 107};
    for (int i = 0; i < 6; ++i) queueUniform(times[i], static_cast<uint16_t>(i + 1));
    std::vector<uint8_t> dst = frameBuffer(4);
    uint64_t timestamp = 0;
    ASSERT_EQ(sensor.getFrame(dst.data(), &timestamp), 0);
    EXPECT_EQ(slotValues(dst, 4), (std::vector<int>{3, 4, 5, 6}));
    EXPECT_EQ(timestamp, 107u);
}

TEST_F(UsbTransport, MissedCaptureCountsAsASubframeWithoutOutput) {
    QuarvelTOFUSBSensor& sensor = startedSensor("");
    queueUniform(100, 1);
    ASSERT_EQ(QuarvelSimQueueMissedCapture(), 0);
    queueUniform(102, 2);
    queueUniform(104, 3);
    std::vector<uint8_t> dst = frameBuffer(4);
    uint64_t timestamp = 0;
    ASSERT_EQ(sensor.getFrame(dst.data(), &timestamp), 0);
    // The missed capture takes no room: later sub-frames close up, the last slot is untouched.
    EXPECT_EQ(slotValues(dst, 4), (std::vector<int>{1, 2, 3, -1}));
    EXPECT_EQ(timestamp, 104u);
}

TEST_F(UsbTransport, MissedLastCaptureKeepsThePreviousTimestamp) {
    QuarvelTOFUSBSensor& sensor = startedSensor("");
    queueUniform(200, 1);
    queueUniform(202, 2);
    queueUniform(204, 3);
    ASSERT_EQ(QuarvelSimQueueMissedCapture(), 0);
    std::vector<uint8_t> dst = frameBuffer(4);
    uint64_t timestamp = 0;
    ASSERT_EQ(sensor.getFrame(dst.data(), &timestamp), 0);
    EXPECT_EQ(slotValues(dst, 4), (std::vector<int>{1, 2, 3, -1}));
    EXPECT_EQ(timestamp, 204u);
}

TEST_F(UsbTransport, MissedFirstCaptureIsFollowedByAFreshGroup) {
    QuarvelTOFUSBSensor& sensor = startedSensor("");
    ASSERT_EQ(QuarvelSimQueueMissedCapture(), 0);
    for (int i = 0; i < 4; ++i) queueUniform(300 + 2 * i, static_cast<uint16_t>(i + 1));
    std::vector<uint8_t> dst = frameBuffer(4);
    uint64_t timestamp = 0;
    ASSERT_EQ(sensor.getFrame(dst.data(), &timestamp), 0);
    EXPECT_EQ(slotValues(dst, 4), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(timestamp, 306u);
}

TEST_F(UsbTransport, FrameOfTheWrongSizeFailsAndIsHandedBack) {
    QuarvelTOFUSBSensor& sensor = startedSensor("");
    std::vector<uint8_t> dst = frameBuffer(4);
    uint64_t timestamp = 0;

    queueUniform(100, 1, kSubframeBytes - 2);
    EXPECT_EQ(sensor.getFrame(dst.data(), &timestamp), -1);
    EXPECT_EQ(QuarvelSimFramesLent(), 0);

    queueUniform(200, 1);
    queueUniform(202, 2, kSubframeBytes + 2);
    EXPECT_EQ(sensor.getFrame(dst.data(), &timestamp), -1);
    EXPECT_EQ(QuarvelSimFramesLent(), 0);

    queueUniform(300, 1, 0);
    EXPECT_EQ(sensor.getFrame(dst.data(), &timestamp), -1);
    EXPECT_EQ(QuarvelSimFramesLent(), 0);
}

// Each bit width the camera can report: the SDK's samples and the 12-bit words expected.
struct Conversion {
    int bitWidth;
    size_t sourceBytesPerSample;
    uint16_t sourceMask;
    uint16_t (*expected)(uint16_t);
};

// Names the case in test listings by its width alone.
void PrintTo(const Conversion& conversion, std::ostream* out) {
    *out << conversion.bitWidth << "-bit samples";
}

class UsbSampleConversion : public UsbTransport,
                            public ::testing::WithParamInterface<Conversion> {};

TEST_P(UsbSampleConversion, EverySubframeIsConvertedInPlaceOfItsSlot) {
    const Conversion c = GetParam();
    QuarvelTOFUSBSensor& sensor = startedSensor("bit_width = " + std::to_string(c.bitWidth) + "\n");
    const CameraInfo info = sensor.getCameraInfo();
    EXPECT_EQ(info.bit_width, static_cast<uint32_t>(c.bitWidth));
    EXPECT_EQ(info.bpp, c.sourceBytesPerSample);

    std::vector<std::vector<uint16_t>> sources(4, std::vector<uint16_t>(kPixels));
    for (int k = 0; k < 4; ++k) {
        std::vector<uint8_t> frame(kPixels * c.sourceBytesPerSample);
        for (size_t i = 0; i < kPixels; ++i) {
            const uint16_t value =
                static_cast<uint16_t>((i * 2654435761u + k * 40503u) >> 7) & c.sourceMask;
            sources[k][i] = value;
            if (c.sourceBytesPerSample == 1) {
                frame[i] = static_cast<uint8_t>(value);
            } else {
                putWord(frame, i, value);
            }
        }
        ASSERT_EQ(
            QuarvelSimQueueFrame(500 + 2 * k, frame.data(), static_cast<uint32_t>(frame.size())),
            0);
    }
    // Room for four sub-frames plus a guard zone that must stay untouched.
    std::vector<uint8_t> dst(4 * kSubframeBytes + 64, kUntouched);
    uint64_t timestamp = 0;
    ASSERT_EQ(sensor.getFrame(dst.data(), &timestamp), 0);
    EXPECT_EQ(timestamp, 506u);
    for (int k = 0; k < 4; ++k) {
        for (size_t i = 0; i < kPixels; ++i) {
            ASSERT_EQ(wordAt(dst, k * kPixels + i), c.expected(sources[k][i]))
                << "sub-frame " << k << " sample " << i;
        }
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
    [](const ::testing::TestParamInfo<Conversion>& info) {
        return "Bits" + std::to_string(info.param.bitWidth);
    });

TEST(UsbSampleConversionBounds, NothingIsWrittenBeyondTheDestination) {
    const std::vector<uint8_t> source(100, 0x12);
    std::vector<uint8_t> dst(199, kUntouched);
    // 8-bit samples need 200 bytes of output: one too many for this buffer.
    EXPECT_EQ(QuarvelTOFUSBSensor::convertSamples(source.data(), 100, 8, 1, dst.data(), 199), 200u);
    EXPECT_EQ(QuarvelTOFUSBSensor::convertSamples(source.data(), 100, 10, 2, dst.data(), 99), 100u);
    EXPECT_EQ(QuarvelTOFUSBSensor::convertSamples(source.data(), 100, 12, 2, nullptr, 0), 100u);
    for (uint8_t byte : dst) ASSERT_EQ(byte, kUntouched);
    // A width the table does not know advances by the source size and writes nothing.
    EXPECT_EQ(QuarvelTOFUSBSensor::convertSamples(source.data(), 100, 6, 1, dst.data(), 199), 100u);
    for (uint8_t byte : dst) ASSERT_EQ(byte, kUntouched);
}

TEST_F(UsbTransport, RangeWritesTheRegisterTableByteForByte) {
    QuarvelTOFUSBSensor& sensor = startedSensor("");
    std::vector<uint8_t> log(64);
    ASSERT_EQ(QuarvelSimRegisterLog(log.data(), log.size()), 0u);

    EXPECT_EQ(sensor.setControl(CameraCtrl::RANGE, 2000), 0);
    const std::vector<uint8_t> shortRange = {0x21, 0x6C, 0x08, 0x21, 0x79, 0x0A,
                                             0x21, 0x7A, 0x0E, 0x21, 0x7B, 0x12};
    ASSERT_EQ(QuarvelSimRegisterLog(log.data(), log.size()), 12u);
    EXPECT_EQ(std::vector<uint8_t>(log.begin(), log.begin() + 12), shortRange);

    const std::vector<uint8_t> longRange = {0x21, 0x6C, 0x10, 0x21, 0x79, 0x0E,
                                            0x21, 0x7A, 0x16, 0x21, 0x7B, 0x1E};
    for (int value : {4000, 3000, 1999, 0}) {
        EXPECT_EQ(sensor.setControl(CameraCtrl::RANGE, value), 0);
    }
    ASSERT_EQ(QuarvelSimRegisterLog(log.data(), log.size()), 60u);
    for (int group = 1; group < 5; ++group) {
        EXPECT_EQ(std::vector<uint8_t>(log.begin() + 12 * group, log.begin() + 12 * group + 12),
                  longRange)
            << "write " << group;
    }

    // Nothing but RANGE reaches the registers.
    for (CameraCtrl ctrl : {CameraCtrl::FMT_WIDTH, CameraCtrl::FMT_HEIGHT, CameraCtrl::MODE,
                            CameraCtrl::EXPOSURE, CameraCtrl::FRAME_RATE}) {
        EXPECT_EQ(sensor.setControl(ctrl, 2000), 1);
    }
    EXPECT_EQ(QuarvelSimRegisterLog(nullptr, 0), 60u);
}

TEST_F(UsbTransport, ReadingAControlIsNotImplementedAndLeavesTheValue) {
    QuarvelTOFUSBSensor& sensor = startedSensor("");
    for (CameraCtrl ctrl : {CameraCtrl::RANGE, CameraCtrl::FRAME_RATE, CameraCtrl::EXPOSURE}) {
        int value = 1234;
        EXPECT_EQ(sensor.getControl(ctrl, &value), 4);
        EXPECT_EQ(value, 1234);
    }
}

TEST_F(UsbTransport, RangeRegistersSwitchTheSimulatedModulationAtTheNextFrame) {
    QuarvelTOFUSBSensor& sensor = startedSensor("fps = 60\n");
    std::vector<uint8_t> dst = frameBuffer(4);
    uint64_t timestamp = 0;
    QuarvelSimDelivery delivery{};
    ASSERT_EQ(sensor.getFrame(dst.data(), &timestamp), 0);
    ASSERT_EQ(QuarvelSimFindDelivery(timestamp, &delivery), 0);
    EXPECT_EQ(delivery.shortRange, 0);
    EXPECT_EQ(delivery.subframe, 3);

    // The user's thread switches while the capture thread reads frames.
    std::atomic<bool> done{false};
    std::vector<QuarvelSimDelivery> seen;
    std::thread capture([&] {
        std::vector<uint8_t> frame = frameBuffer(4);
        while (!done.load()) {
            uint64_t stamp = 0;
            if (sensor.getFrame(frame.data(), &stamp) != 0) break;
            QuarvelSimDelivery d{};
            if (QuarvelSimFindDelivery(stamp, &d) == 0) seen.push_back(d);
        }
    });
    for (int i = 0; i < 20; ++i) {
        sensor.setControl(CameraCtrl::RANGE, i % 2 ? 4000 : 2000);
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
    sensor.setControl(CameraCtrl::RANGE, 2000);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    done.store(true);
    capture.join();

    // Every write went through whole and in order.
    const std::vector<uint8_t> shortTable = {0x21, 0x6C, 0x08, 0x21, 0x79, 0x0A,
                                             0x21, 0x7A, 0x0E, 0x21, 0x7B, 0x12};
    const std::vector<uint8_t> longTable = {0x21, 0x6C, 0x10, 0x21, 0x79, 0x0E,
                                            0x21, 0x7A, 0x16, 0x21, 0x7B, 0x1E};
    std::vector<uint8_t> log(QuarvelSimRegisterLog(nullptr, 0));
    QuarvelSimRegisterLog(log.data(), log.size());
    ASSERT_EQ(log.size(), 21u * 12u);
    for (size_t group = 0; group < 21; ++group) {
        EXPECT_EQ(std::vector<uint8_t>(log.begin() + 12 * group, log.begin() + 12 * group + 12),
                  group % 2 == 0 ? shortTable : longTable)
            << "write " << group;
    }
    EXPECT_FALSE(seen.empty());
    // Frames begun after the last write are taken in the short range.
    for (int n = 0; n < 3; ++n) {
        ASSERT_EQ(sensor.getFrame(dst.data(), &timestamp), 0);
        ASSERT_EQ(QuarvelSimFindDelivery(timestamp, &delivery), 0);
        EXPECT_EQ(delivery.shortRange, 1);
        EXPECT_EQ(delivery.subframe, 3);
    }
}

TEST_F(UsbTransport, OpenHandsThePathAndItsBinFlagToTheSdk) {
    char path[256];
    int flag = -1;
    struct Case {
        const char* name;
        int flag;
    } cases[] = {{"camera.bin", 1}, {"camera.conf", 0}, {"camera.bin.txt", 0}, {"x.BIN", 0}};
    for (const Case& c : cases) {
        QuarvelTOFUSBSensor& sensor = sensorFor(scratch.write(c.name, "noise = off\n"));
        CameraInfo info{};
        ASSERT_EQ(sensor.open(info), 0) << c.name;
        ASSERT_EQ(QuarvelSimLastOpenParam(path, sizeof path, &flag), 0);
        EXPECT_EQ(std::string(path), scratch.directory() + "/" + c.name);
        EXPECT_EQ(flag, c.flag) << c.name;
        EXPECT_EQ(sensor.close(), 0);
    }
}

TEST_F(UsbTransport, PathShorterThanFourCharactersIsNotABinFile) {
    // Relative paths of one to four characters, opened from the scratch directory.
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    scratch.write("abc", "seed = 3\n");
    scratch.write(".bin", "seed = 4\n");
    ASSERT_EQ(chdir(scratch.directory().c_str()), 0);
    struct Case {
        const char* path;
        int flag;
    } cases[] = {{"abc", 0}, {".bin", 1}};
    for (const Case& c : cases) {
        QuarvelTOFUSBSensor& sensor = sensorFor(c.path);
        CameraInfo info{};
        EXPECT_EQ(sensor.open(info), 0) << c.path;
        char path[64];
        int flag = -1;
        ASSERT_EQ(QuarvelSimLastOpenParam(path, sizeof path, &flag), 0);
        EXPECT_STREQ(path, c.path);
        EXPECT_EQ(flag, c.flag) << c.path;
        sensor.close();
    }
    // A path of fewer characters than the suffix: the camera simply is not found.
    QuarvelTOFUSBSensor& tiny = sensorFor("ab");
    CameraInfo info{};
    testing::internal::CaptureStderr();
    EXPECT_EQ(tiny.open(info), -1);
    testing::internal::GetCapturedStderr();
    ASSERT_EQ(chdir(previous), 0);
}

TEST_F(UsbTransport, EmptyPathOpensTheDefaultCamera) {
    QuarvelTOFUSBSensor& sensor = sensorFor("");
    CameraInfo info{};
    info.index = 7;
    info.connect = Connection::USB;
    ASSERT_EQ(sensor.open(info), 0);
    EXPECT_EQ(info.width, 240u);
    EXPECT_EQ(info.height, 180u);
    EXPECT_EQ(info.bit_width, 12u);
    EXPECT_EQ(info.bpp, 2u);
    EXPECT_EQ(info.index, 7u);  // the camera's own fields are left alone
    const CameraInfo kept = sensor.getCameraInfo();
    EXPECT_EQ(kept.width, 240u);
    EXPECT_EQ(kept.index, 7u);
    char path[16] = "unchanged";
    int flag = -1;
    ASSERT_EQ(QuarvelSimLastOpenParam(path, sizeof path, &flag), 0);
    EXPECT_STREQ(path, "");
    EXPECT_EQ(flag, 0);
}

TEST_F(UsbTransport, MissingOrMalformedDescriptionFailsWithAMessage) {
    const std::string missing = scratch.directory() + "/missing.conf";
    QuarvelTOFUSBSensor& absent = sensorFor(missing);
    CameraInfo info{};
    testing::internal::CaptureStderr();
    EXPECT_EQ(absent.open(info), -1);
    std::string message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find("cannot open camera"), std::string::npos) << message;
    EXPECT_NE(message.find(missing), std::string::npos) << message;
    EXPECT_EQ(absent.close(), 0);
    EXPECT_EQ(absent.close(), 0);

    QuarvelTOFUSBSensor& malformed =
        sensorFor(scratch.write("bad.conf", "fps = 30\nbit_width = 9\n"));
    testing::internal::CaptureStderr();
    EXPECT_EQ(malformed.open(info), -1);
    message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find("line 2: bit_width must be 8, 10, 12 or 14"), std::string::npos)
        << message;

    // Nothing stayed open: a good description opens at once.
    QuarvelTOFUSBSensor& good = sensorFor("");
    EXPECT_EQ(good.open(info), 0);
}

TEST_F(UsbTransport, OneUsbCameraCanBeOpenedOnlyOnce) {
    QuarvelTOFUSBSensor& first = sensorFor("");
    QuarvelTOFUSBSensor& second = sensorFor("");
    CameraInfo info{};
    ASSERT_EQ(first.open(info), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(second.open(info), -1);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("already open"), std::string::npos);
    // The failed transport has no camera: starting it is refused, and stays refused.
    EXPECT_EQ(second.start(), -1);
    EXPECT_EQ(second.start(), -1);
    EXPECT_EQ(second.stop(), 0);
    EXPECT_EQ(second.close(), 0);
    EXPECT_EQ(first.close(), 0);
    EXPECT_EQ(second.open(info), 0);
}

TEST_F(UsbTransport, StartStopAndCloseFollowTheStreamingState) {
    QuarvelTOFUSBSensor& sensor = sensorFor("");
    CameraInfo info{};
    ASSERT_EQ(sensor.open(info), 0);
    sensor.subframeCount = 4;

    // Not streaming: getFrame counts empty passes, writes nothing and returns at once.
    std::vector<uint8_t> dst = frameBuffer(4);
    uint64_t timestamp = 77;
    EXPECT_EQ(sensor.getFrame(dst.data(), &timestamp), 0);
    EXPECT_EQ(timestamp, 77u);
    EXPECT_EQ(slotValues(dst, 4), (std::vector<int>{-1, -1, -1, -1}));

    EXPECT_EQ(sensor.start(), 0);
    EXPECT_EQ(sensor.start(), -1);
    ASSERT_EQ(sensor.getFrame(dst.data(), &timestamp), 0);
    EXPECT_NE(timestamp, 77u);
    EXPECT_EQ(sensor.stop(), 0);
    EXPECT_EQ(sensor.start(), 0);
    EXPECT_EQ(sensor.stop(), 0);
    EXPECT_EQ(sensor.close(), 0);
    EXPECT_EQ(sensor.close(), 0);
    EXPECT_EQ(QuarvelSimFramesLent(), 0);
}

TEST(UsbStandInSdk, CaptureHonoursItsTimeoutAndCloseWakesAWaiter) {
    alignas(8) uint8_t param[QUARVEL_OPEN_PARAM_SIZE];
    ASSERT_EQ(QuarvelDefaultParam(param), 0);
    QuarvelCameraHandle handle = nullptr;
    ASSERT_EQ(QuarvelOpenCamera(&handle, param), 0);
    ASSERT_EQ(QuarvelInitCamera(handle), 0);
    QuarvelImageFrame frame{};
    // Not started: no frame comes, the call gives up after its timeout.
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(QuarvelCaptureImage(handle, &frame, 50), QUARVEL_EVK_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(50));

    std::atomic<int> result{1};
    std::thread waiter([&] { result = QuarvelCaptureImage(handle, &frame, 2000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto closing = std::chrono::steady_clock::now();
    EXPECT_EQ(QuarvelCloseCamera(handle), 0);
    waiter.join();
    EXPECT_EQ(result.load(), QUARVEL_EVK_NOT_READY);
    EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::milliseconds(1500));
    // The handle is gone: every call refuses it instead of touching freed memory.
    EXPECT_EQ(QuarvelStartCamera(handle), QUARVEL_EVK_ERROR);
    EXPECT_EQ(QuarvelCaptureImage(handle, &frame, 10), QUARVEL_EVK_ERROR);
    EXPECT_EQ(QuarvelCloseCamera(handle), QUARVEL_EVK_ERROR);
}

TEST(UsbStandInSdk, RecordsNotPreparedByDefaultParamAreRefused) {
    alignas(8) uint8_t param[QUARVEL_OPEN_PARAM_SIZE] = {};
    QuarvelCameraHandle handle = nullptr;
    testing::internal::CaptureStderr();
    EXPECT_NE(QuarvelOpenCamera(&handle, param), 0);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("QuarvelDefaultParam"),
              std::string::npos);
    EXPECT_EQ(handle, nullptr);
}

TEST(UsbStandInSdk, FramesAreLentUntilFreedAndForeignRecordsAreRefused) {
    alignas(8) uint8_t param[QUARVEL_OPEN_PARAM_SIZE];
    QuarvelDefaultParam(param);
    QuarvelCameraHandle handle = nullptr;
    ASSERT_EQ(QuarvelOpenCamera(&handle, param), 0);
    ASSERT_EQ(QuarvelInitCamera(handle), 0);
    ASSERT_EQ(QuarvelStartCamera(handle), 0);
    QuarvelImageFrame frames[5] = {};
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(QuarvelSimQueueFrame(10 + i, "\1\2", 2), 0);
        ASSERT_EQ(QuarvelCaptureImage(handle, &frames[i], 100), 0);
    }
    EXPECT_EQ(QuarvelSimFramesLent(), 4);
    ASSERT_EQ(QuarvelSimQueueFrame(20, "\1\2", 2), 0);
    EXPECT_EQ(QuarvelCaptureImage(handle, &frames[4], 100), QUARVEL_EVK_NO_BUFFER);
    QuarvelImageFrame forged = frames[0];
    forged.bytes[0] = 99;
    EXPECT_EQ(QuarvelFreeImage(handle, forged), QUARVEL_EVK_ERROR);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(QuarvelFreeImage(handle, frames[i]), 0);
    EXPECT_EQ(QuarvelFreeImage(handle, frames[0]), QUARVEL_EVK_ERROR);  // twice
    EXPECT_EQ(QuarvelSimFramesLent(), 0);
    EXPECT_EQ(QuarvelCloseCamera(handle), 0);
}
