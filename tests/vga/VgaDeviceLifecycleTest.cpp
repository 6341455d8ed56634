// The VGA device's open, start, stop and close over a scripted phase library.
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <thread>

#include "core/ComponentFactory.h"
#include "tests/vga/VgaDeviceFixture.h"

using namespace Quarvel;
using phase_test::readFile;
using phase_test::writeFile;
using vga_test::VgaDeviceTest;

using VgaLifecycle = VgaDeviceTest;

namespace {

// True when the process has `path` mapped.
bool isMapped(const std::string& path) {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        if (line.size() >= path.size() &&
            line.compare(line.size() - path.size(), path.size(), path) == 0) {
            return true;
        }
    }
    return false;
}

using Calls = std::vector<std::string>;

}  // namespace

TEST_F(VgaLifecycle, OpenWithoutSensorIsInvalidAndTouchesNothing) {
    EXPECT_EQ(device->open(nullptr), QuarvelInvalidParameter);
    EXPECT_TRUE(library.calls().empty());
    EXPECT_EQ(device->sdkHandle, nullptr);
    EXPECT_EQ(device->close(), 0);
    EXPECT_TRUE(pauses.empty()) << "nothing was opened";
}

TEST_F(VgaLifecycle, OpenBindsTheSensorAndCreatesTheLibraryInstance) {
    EXPECT_EQ(device->open(&sensor), 0);
    EXPECT_EQ(device->sensor, &sensor);
    EXPECT_NE(device->sdkHandle, nullptr);
    EXPECT_EQ(library.calls(), Calls{"create"});
    EXPECT_EQ(library.liveInstances(), 1);
}

TEST_F(VgaLifecycle, RefusedCreateFailsOpenButKeepsTheSensor) {
    library.createResult = false;
    EXPECT_EQ(device->open(&sensor), QuarvelUnkownError);
    EXPECT_EQ(device->sensor, &sensor);
    EXPECT_EQ(device->sdkHandle, nullptr);
}

TEST_F(VgaLifecycle, StartWritesTheConfigurationThenInitialisesAndStartsTheLibrary) {
    ASSERT_EQ(device->open(&sensor), 0);
    ASSERT_EQ(device->prepare(), 0);
    EXPECT_EQ(device->start(), 0);
    EXPECT_EQ(library.calls(), (Calls{"create", "init 640x480", "start"}));
    EXPECT_EQ(readFile(directory.file("ConfigAlgorithm.json")).size(), 273u);
    EXPECT_EQ(readFile(directory.file("ConfigCamera.json")).size(), 9476u);
    EXPECT_EQ(readFile(directory.file("register.json")).size(), 946u);
    EXPECT_EQ(device->stop(), 0);
    EXPECT_EQ(library.calls().size(), 3u) << "stop leaves the library alone";
}

TEST_F(VgaLifecycle, EveryStartRunsAgainOnTheSameInstance) {
    ASSERT_EQ(device->open(&sensor), 0);
    device->setControl(CameraCtrl::FMT_WIDTH, 320);
    device->setControl(CameraCtrl::FMT_HEIGHT, 240);
    ASSERT_EQ(device->setControlExt(CameraCtrl::CONFIG_DIR_EXT, "/etc/quarvel"), 0);
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(device->prepare(), 0);
        ASSERT_EQ(device->start(), 0);
        device->stop();
    }
    EXPECT_EQ(library.calls(), (Calls{"create", "init 320x240", "setConfig /etc/quarvel", "start",
                                      "init 320x240", "setConfig /etc/quarvel", "start"}));
    EXPECT_EQ(library.liveInstances(), 1);
}

TEST_F(VgaLifecycle, UnwritableWorkingDirectoryFailsStartBeforeAnyLibraryCall) {
    ASSERT_EQ(device->open(&sensor), 0);
    ASSERT_EQ(::mkdir(directory.file("register.json").c_str(), 0755), 0);
    EXPECT_EQ(device->start(), QuarvelUnkownError);
    EXPECT_EQ(library.calls(), Calls{"create"});
    EXPECT_EQ(library.liveInstances(), 1) << "the instance survives for a later start";
}

TEST_F(VgaLifecycle, RefusedInitDestroysTheInstance) {
    ASSERT_EQ(device->open(&sensor), 0);
    library.initResult = false;
    EXPECT_EQ(device->start(), QuarvelUnkownError);
    EXPECT_EQ(library.calls(), (Calls{"create", "init 640x480", "destroy"}));
    EXPECT_EQ(device->sdkHandle, nullptr);
    EXPECT_EQ(library.liveInstances(), 0);
    // Nothing left to start on until the camera opens again.
    library.initResult = true;
    EXPECT_EQ(device->start(), QuarvelUnkownError);
}

TEST_F(VgaLifecycle, RefusedStartDestroysTheInstanceAndReleasesItsCalibration) {
    ASSERT_TRUE(writeFile(directory.file("cali.bin"), "calibration"));
    ASSERT_EQ(device->open(&sensor), 0);
    library.startResult = false;
    EXPECT_EQ(device->start(), QuarvelUnkownError);
    EXPECT_EQ(library.calls(),
              (Calls{"create", "init 640x480", "setCaliData 11", "start", "destroy"}));
    EXPECT_EQ(device->sdkHandle, nullptr);
    EXPECT_EQ(library.liveInstances(), 0);
    EXPECT_EQ(device->calibrationMappings(), 0u);
    EXPECT_FALSE(isMapped(directory.file("cali.bin")));
}

TEST_F(VgaLifecycle, CalibrationFileIsMappedAndHandedOverBeforeTheDirectory) {
    const std::string content = "SI4CCAL1 and whatever follows";
    ASSERT_TRUE(writeFile(directory.file("cali.bin"), content));
    ASSERT_EQ(device->setControlExt(CameraCtrl::CONFIG_DIR_EXT, "cfg"), 0);
    ASSERT_EQ(device->open(&sensor), 0);
    ASSERT_EQ(device->start(), 0);
    EXPECT_EQ(library.calls(),
              (Calls{"create", "init 640x480", "setCaliData 29", "setConfig cfg", "start"}));
    EXPECT_EQ(library.lastCalibrationBytes(), content);
    EXPECT_TRUE(isMapped(directory.file("cali.bin")));
    EXPECT_EQ(device->calibrationMappings(), 1u);
}

TEST_F(VgaLifecycle, EmptyMissingOrUnmappableCalibrationIsSkipped) {
    ASSERT_EQ(device->open(&sensor), 0);
    ASSERT_EQ(device->start(), 0);  // missing
    ASSERT_TRUE(writeFile(directory.file("cali.bin"), ""));
    ASSERT_EQ(device->start(), 0);  // empty
    ASSERT_EQ(::unlink(directory.file("cali.bin").c_str()), 0);
    ASSERT_EQ(::mkdir(directory.file("cali.bin").c_str(), 0755), 0);
    ASSERT_EQ(device->start(), 0);  // a directory opens but cannot be mapped
    EXPECT_EQ(library.callsExcept("init"), (Calls{"create", "start", "start", "start"}));
    EXPECT_EQ(device->calibrationMappings(), 0u);
}

TEST_F(VgaLifecycle, RepeatedStartsReuseTheMappingOfAnUnchangedFile) {
    ASSERT_TRUE(writeFile(directory.file("cali.bin"), "first version"));
    ASSERT_EQ(device->open(&sensor), 0);
    ASSERT_EQ(device->start(), 0);
    const void* firstAddress = library.lastCalibrationAddress();
    ASSERT_EQ(device->start(), 0);
    EXPECT_EQ(library.lastCalibrationAddress(), firstAddress);
    EXPECT_EQ(device->calibrationMappings(), 1u);

    ASSERT_TRUE(writeFile(directory.file("cali.bin"), "second, longer version"));
    ASSERT_EQ(device->start(), 0);
    EXPECT_EQ(library.lastCalibrationBytes(), "second, longer version");
    EXPECT_EQ(device->calibrationMappings(), 2u) << "the first may still be in use";
}

TEST_F(VgaLifecycle, CalibrationMappingOutlivesTheInstanceThatReceivedIt) {
    ASSERT_TRUE(writeFile(directory.file("cali.bin"), std::string(10000, 'c')));
    ASSERT_EQ(device->open(&sensor), 0);
    ASSERT_EQ(device->start(), 0);
    bool mappedWhileDestroying = false;
    library.onDestroy = [&] { mappedWhileDestroying = isMapped(directory.file("cali.bin")); };
    ASSERT_EQ(device->close(), 0);
    EXPECT_TRUE(mappedWhileDestroying);
    EXPECT_FALSE(isMapped(directory.file("cali.bin")));
    EXPECT_EQ(device->calibrationMappings(), 0u);
}

TEST_F(VgaLifecycle, FirstClosePausesAndDestroysLaterClosesDoNothing) {
    ASSERT_EQ(device->open(&sensor), 0);
    ASSERT_EQ(device->start(), 0);
    EXPECT_EQ(device->close(), 0);
    EXPECT_EQ(pauses, std::vector<std::chrono::milliseconds>{std::chrono::milliseconds(500)});
    EXPECT_EQ(library.calls().back(), "destroy");
    EXPECT_EQ(device->sdkHandle, nullptr);
    EXPECT_EQ(library.liveInstances(), 0);
    const size_t callsAfterClose = library.calls().size();
    EXPECT_EQ(device->close(), 0);
    EXPECT_EQ(pauses.size(), 1u);
    EXPECT_EQ(library.calls().size(), callsAfterClose);
}

TEST_F(VgaLifecycle, CloseAfterAFailedStartStillPausesOnce) {
    ASSERT_EQ(device->open(&sensor), 0);
    library.startResult = false;
    ASSERT_EQ(device->start(), QuarvelUnkownError);
    EXPECT_EQ(device->close(), 0);
    EXPECT_EQ(device->close(), 0);
    EXPECT_EQ(pauses.size(), 1u);
    EXPECT_EQ(library.liveInstances(), 0);
}

TEST_F(VgaLifecycle, DroppingAnUnclosedDeviceStillDestroysItsInstanceWithoutPause) {
    ASSERT_TRUE(writeFile(directory.file("cali.bin"), "bytes"));
    ASSERT_EQ(device->open(&sensor), 0);
    ASSERT_EQ(device->start(), 0);
    device.reset();
    EXPECT_EQ(library.liveInstances(), 0);
    EXPECT_TRUE(pauses.empty());
    EXPECT_FALSE(isMapped(directory.file("cali.bin")));
}

TEST_F(VgaLifecycle, SecondOpenReplacesTheInstance) {
    ASSERT_EQ(device->open(&sensor), 0);
    ASSERT_EQ(device->open(&sensor), 0);
    EXPECT_EQ(library.calls(), (Calls{"create", "destroy", "create"}));
    EXPECT_EQ(library.liveInstances(), 1);
}

TEST_F(VgaLifecycle, RawFrameIsCopiedWhole) {
    ASSERT_EQ(device->open(&sensor), 0);
    ASSERT_EQ(device->prepare(), 0);
    const size_t samples = 640u * 2405u;
    std::vector<uint8_t> raw(2 * samples);
    for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
    std::vector<int16_t> plane(samples, 0);
    EXPECT_TRUE(device->getRawImages(raw.data(), plane.data()));
    EXPECT_EQ(std::memcmp(plane.data(), raw.data(), raw.size()), 0);
}

TEST_F(VgaLifecycle, ModeOrFormatChangeWhileStreamingWaitsForTheNextStart) {
    ASSERT_EQ(device->open(&sensor), 0);
    ASSERT_EQ(device->prepare(), 0);
    ASSERT_EQ(device->start(), 0);
    // The user switches to dual frequency and a smaller format while frames keep coming.
    ASSERT_EQ(device->setControl(CameraCtrl::MODE, 1), 0);
    ASSERT_EQ(device->setControl(CameraCtrl::FMT_WIDTH, 320), 0);
    EXPECT_EQ(readControl(CameraCtrl::RANGE), 4500);

    FrameLayout raw{};
    FrameLayout output{};
    device->getFrameFormats(&raw, &output);
    EXPECT_EQ(raw.width, 640);
    EXPECT_EQ(raw.height, 2405);
    EXPECT_EQ(output.width, 640);

    // The RAW plane of this stream holds 640 x 2405 samples; guard samples follow it.
    const size_t streamSamples = 640u * 2405u;
    const size_t guard = 4096;
    std::vector<uint8_t> frame(2 * 640u * 4810u, 0x5A);
    std::vector<int16_t> plane(streamSamples + guard, 0x1234);
    EXPECT_TRUE(device->getRawImages(frame.data(), plane.data()));
    for (size_t i = streamSamples; i < plane.size(); ++i) {
        ASSERT_EQ(plane[i], 0x1234) << "copy ran past the RAW plane at " << i;
    }
    EXPECT_EQ(plane[streamSamples - 1], 0x5A5A);

    // The next stream takes the new mode and format.
    device->stop();
    ASSERT_EQ(device->prepare(), 0);
    device->getFrameFormats(&raw, &output);
    EXPECT_EQ(raw.width, 320);
    EXPECT_EQ(raw.height, 4810);
    ASSERT_EQ(device->start(), 0);
    EXPECT_EQ(library.calls().back(), "start");
    EXPECT_EQ(library.calls()[library.calls().size() - 2], "init 320x480");
}

TEST_F(VgaLifecycle, PhaseImageIsTheLibrarysAnswer) {
    ASSERT_EQ(device->open(&sensor), 0);
    ASSERT_EQ(device->start(), 0);
    uint8_t raw[4] = {};
    float plane[1];
    EXPECT_TRUE(device->getPhaseImage(raw, plane, plane, plane));
    library.phaseResult = false;
    EXPECT_FALSE(device->getPhaseImage(raw, plane, plane, plane));
    EXPECT_EQ(library.phaseCalls.load(), 2);
}

TEST(VgaFactory, CameraGetsA640x480DeviceOverTheLinkedLibrary) {
    std::unique_ptr<QuarvelDevice> device = createVgaDevice(BOARD_JETSON);
    ASSERT_NE(device, nullptr);
    auto* vga = dynamic_cast<QuarvelDeviceVGA*>(device.get());
    ASSERT_NE(vga, nullptr);
    EXPECT_EQ(vga->getDeviceType(), VGA);
    EXPECT_EQ(vga->width, 640);
    EXPECT_EQ(vga->height, 480);
    EXPECT_EQ(vga->boardModel, BOARD_JETSON);
    EXPECT_EQ(vga->sdkHandle, nullptr);
    EXPECT_FALSE(vga->frameRateSet);
    EXPECT_TRUE(vga->configDir.empty());
}

namespace {
std::atomic<int> signalsSeen{0};
void countSignal(int) { signalsSeen.fetch_add(1); }
}  // namespace

TEST(VgaClosePause, SleepIsResumedAfterASignal) {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = countSignal;  // no SA_RESTART: nanosleep returns EINTR
    struct sigaction previous;
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);
    const pthread_t sleeper = ::pthread_self();
    std::atomic<bool> done{false};
    std::thread interrupter([&] {
        while (!done.load()) {
            ::pthread_kill(sleeper, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    const auto begin = std::chrono::steady_clock::now();
    sleepResumingAfterSignals(std::chrono::milliseconds(150));
    const auto slept = std::chrono::steady_clock::now() - begin;
    done.store(true);
    interrupter.join();
    ::sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_GT(signalsSeen.load(), 1);
    EXPECT_GE(slept, std::chrono::milliseconds(150)) << "a signal cut the pause short";
}
