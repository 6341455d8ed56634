// The VGA device's open, start, stop and close over a scripted phase library.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <thread>

#include "tests/vga/VgaDeviceFixture.h"

using namespace Quarvel;
using phase_test::readFile;
using phase_test::writeFile;
using VgaLifecycle = vga_test::VgaDeviceTest;
using Calls = std::vector<std::string>;

namespace {

// True when the process has `path` mapped.
bool isMapped(const std::string& path) {
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        if (line.size() >= path.size() &&
            line.compare(line.size() - path.size(), path.size(), path) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

TEST_F(VgaLifecycle, OpenCreatesTheInstanceAndASecondOpenReplacesIt) {
    EXPECT_EQ(device->open(nullptr), QuarvelInvalidParameter);
    EXPECT_TRUE(library.calls().empty());
    library.createResult = false;
    EXPECT_EQ(device->open(&sensor), QuarvelUnkownError);
    EXPECT_EQ(device->sdkHandle, nullptr);
    library.createResult = true;
    EXPECT_EQ(device->open(&sensor), 0);
    EXPECT_EQ(device->open(&sensor), 0);
    EXPECT_EQ(library.calls(), (Calls{"create", "create", "destroy", "create"}));
    EXPECT_EQ(library.liveInstances(), 1);
}

TEST_F(VgaLifecycle, EveryStartWritesTheConfigurationThenRunsTheLibraryOnTheSameInstance) {
    ASSERT_EQ(device->open(&sensor), 0);
    device->setControl(CameraCtrl::FMT_WIDTH, 320);
    device->setControl(CameraCtrl::FMT_HEIGHT, 240);
    ASSERT_EQ(device->setControlExt(CameraCtrl::CONFIG_DIR_EXT, "/etc/quarvel"), 0);
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(device->prepare(), 0);
        ASSERT_EQ(device->start(), 0);
        EXPECT_EQ(device->stop(), 0);
    }
    EXPECT_EQ(library.calls(), (Calls{"create", "init 320x240", "setConfig /etc/quarvel", "start",
                                      "init 320x240", "setConfig /etc/quarvel", "start"}));
    EXPECT_EQ(readFile(directory.file("ConfigAlgorithm.json")).size(), 273u);
    EXPECT_EQ(readFile(directory.file("ConfigCamera.json")).size(), 9476u);
    EXPECT_EQ(readFile(directory.file("register.json")).size(), 946u);
}

TEST_F(VgaLifecycle, UnwritableWorkingDirectoryFailsStartBeforeAnyLibraryCall) {
    ASSERT_EQ(device->open(&sensor), 0);
    ASSERT_EQ(::mkdir(directory.file("register.json").c_str(), 0755), 0);
    EXPECT_EQ(device->start(), QuarvelUnkownError);
    EXPECT_EQ(library.calls(), Calls{"create"});
    EXPECT_EQ(library.liveInstances(), 1) << "the instance survives for a later start";
}

TEST_F(VgaLifecycle, RefusedInitOrStartDestroysTheInstanceAndReleasesItsCalibration) {
    ASSERT_TRUE(writeFile(directory.file("cali.bin"), "calibration"));
    for (bool initRefused : {true, false}) {
        ASSERT_EQ(device->open(&sensor), 0);
        library.initResult = !initRefused;
        library.startResult = initRefused;
        const size_t before = library.calls().size();
        EXPECT_EQ(device->start(), QuarvelUnkownError);
        const Calls all = library.calls();
        const Calls calls(all.begin() + before, all.end());
        EXPECT_EQ(calls,
                  (initRefused ? Calls{"init 640x480", "destroy"}
                               : Calls{"init 640x480", "setCaliData 11", "start", "destroy"}));
        EXPECT_EQ(device->sdkHandle, nullptr);
        EXPECT_EQ(library.liveInstances(), 0);
        EXPECT_EQ(device->calibrationCopies(), 0u);
        // Nothing left to start on until the camera opens again.
        library.initResult = library.startResult = true;
        EXPECT_EQ(device->start(), QuarvelUnkownError);
    }
    EXPECT_EQ(device->close(), 0);
    EXPECT_EQ(device->close(), 0);
    EXPECT_EQ(pauses.size(), 1u) << "close after a failed start still pauses once";
}

TEST_F(VgaLifecycle, CalibrationIsCopiedHandedOverBeforeTheDirectoryAndReusedWhileUnchanged) {
    ASSERT_EQ(device->open(&sensor), 0);
    ASSERT_EQ(device->setControlExt(CameraCtrl::CONFIG_DIR_EXT, "cfg"), 0);
    ASSERT_EQ(device->start(), 0);  // missing
    ASSERT_TRUE(writeFile(directory.file("cali.bin"), ""));
    ASSERT_EQ(device->start(), 0);  // empty
    ASSERT_EQ(::unlink(directory.file("cali.bin").c_str()), 0);
    ASSERT_EQ(::mkdir(directory.file("cali.bin").c_str(), 0755), 0);
    ASSERT_EQ(device->start(), 0);  // a directory is not a calibration file
    ASSERT_EQ(::rmdir(directory.file("cali.bin").c_str()), 0);
    EXPECT_EQ(device->calibrationCopies(), 0u);

    const std::string content = "SI4CCAL1 and whatever follows";
    ASSERT_TRUE(writeFile(directory.file("cali.bin"), content));
    ASSERT_EQ(device->start(), 0);
    const Calls calls = library.calls();
    EXPECT_EQ(Calls(calls.end() - 4, calls.end()),
              (Calls{"init 640x480", "setCaliData 29", "setConfig cfg", "start"}));
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "setConfig cfg"), 4);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "setCaliData 29"), 1);
    EXPECT_EQ(library.calibrationBytes, content);
    EXPECT_FALSE(isMapped(directory.file("cali.bin"))) << "a copy, never a mapping";
    const void* firstAddress = library.calibrationAddress;
    ASSERT_EQ(device->start(), 0);
    EXPECT_EQ(library.calibrationAddress, firstAddress);
    EXPECT_EQ(device->calibrationCopies(), 1u);

    ASSERT_TRUE(writeFile(directory.file("cali.bin"), "second, longer version"));
    ASSERT_EQ(device->start(), 0);
    EXPECT_EQ(library.calibrationBytes, "second, longer version");
    EXPECT_EQ(device->calibrationCopies(), 2u) << "the first may still be in use";
    ASSERT_TRUE(writeFile(directory.file("cali.bin"), "second, longer version"));
    ASSERT_EQ(device->start(), 0);
    EXPECT_EQ(device->calibrationCopies(), 2u) << "the same bytes again reuse the newest copy";
}

TEST_F(VgaLifecycle, FirstClosePausesThenDestroysThenFreesTheCopiesLaterClosesDoNothing) {
    ASSERT_TRUE(writeFile(directory.file("cali.bin"), std::string(10000, 'c')));
    ASSERT_EQ(device->open(&sensor), 0);
    ASSERT_EQ(device->start(), 0);
    size_t copiesWhileDestroying = 0;
    library.onDestroy = [&] { copiesWhileDestroying = device->calibrationCopies(); };
    EXPECT_EQ(device->close(), 0);
    EXPECT_EQ(pauses, std::vector<std::chrono::milliseconds>{std::chrono::milliseconds(500)});
    EXPECT_EQ(library.calls().back(), "destroy");
    EXPECT_EQ(library.liveInstances(), 0);
    EXPECT_EQ(copiesWhileDestroying, 1u);
    EXPECT_EQ(device->calibrationCopies(), 0u);
    const size_t callsAfterClose = library.calls().size();
    EXPECT_EQ(device->close(), 0);
    EXPECT_EQ(pauses.size(), 1u);
    EXPECT_EQ(library.calls().size(), callsAfterClose);
}

TEST_F(VgaLifecycle, DroppingAnUnclosedDeviceStillDestroysItsInstanceWithoutPause) {
    ASSERT_TRUE(writeFile(directory.file("cali.bin"), "bytes"));
    ASSERT_EQ(device->open(&sensor), 0);
    ASSERT_EQ(device->start(), 0);
    device.reset();
    EXPECT_EQ(library.liveInstances(), 0);
    EXPECT_TRUE(pauses.empty());
}

TEST_F(VgaLifecycle, ModeOrFormatChangeWhileStreamingWaitsForTheNextStart) {
    ASSERT_EQ(device->open(&sensor), 0);
    ASSERT_EQ(device->prepare(), 0);
    ASSERT_EQ(device->start(), 0);
    // The RAW plane of this stream holds 640 x 2405 samples; room for a dual-frequency frame
    // follows it, so that an overlong copy shows in the guard instead of corrupting memory.
    const size_t streamSamples = 640u * 2405u;
    const size_t dualSamples = 640u * 4810u;
    std::vector<uint8_t> frame(2 * dualSamples);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
    auto copyFits = [&] {
        std::vector<int16_t> plane(dualSamples, 0x1234);
        EXPECT_TRUE(device->getRawImages(frame.data(), plane.data()));
        EXPECT_EQ(std::memcmp(plane.data(), frame.data(), 2 * streamSamples), 0);
        return std::all_of(plane.begin() + streamSamples, plane.end(),
                           [](int16_t sample) { return sample == 0x1234; });
    };
    EXPECT_TRUE(copyFits());
    ASSERT_EQ(device->setControl(CameraCtrl::MODE, 1), 0);
    EXPECT_EQ(readControl(CameraCtrl::RANGE), 4500) << "the control answers at once";
    FrameLayout raw{}, output{};
    device->getFrameFormats(&raw, &output);
    EXPECT_EQ(raw.height, 2405);
    EXPECT_TRUE(copyFits()) << "copy ran past the RAW plane after a mode change";
    ASSERT_EQ(device->setControl(CameraCtrl::FMT_WIDTH, 320), 0);
    ASSERT_EQ(device->setControl(CameraCtrl::FMT_HEIGHT, 240), 0);
    device->getFrameFormats(&raw, &output);
    EXPECT_EQ(output.width, 640);
    EXPECT_EQ(output.height, 480);
    EXPECT_TRUE(copyFits());

    // The next stream takes the new mode and format.
    device->stop();
    ASSERT_EQ(device->prepare(), 0);
    device->getFrameFormats(&raw, &output);
    EXPECT_EQ(raw.width, 320);
    EXPECT_EQ(raw.height, 2410);
    ASSERT_EQ(device->start(), 0);
    EXPECT_EQ(library.calls().back(), "start");
    EXPECT_EQ(library.calls()[library.calls().size() - 2], "init 320x240");
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
    EXPECT_TRUE(support::eventually([] { return signalsSeen.load() > 0; }));
    // A busy machine may not run the interrupter during a pause: pause again until a signal
    // came during one. Every pause must last its whole time.
    int signalsDuringPause = 0;
    for (int attempt = 0; attempt < 20 && signalsDuringPause == 0; ++attempt) {
        const int before = signalsSeen.load();
        const auto begin = std::chrono::steady_clock::now();
        sleepResumingAfterSignals(std::chrono::milliseconds(150));
        const auto slept = std::chrono::steady_clock::now() - begin;
        signalsDuringPause = signalsSeen.load() - before;
        EXPECT_GE(slept, std::chrono::milliseconds(150)) << "a signal cut the pause short";
    }
    done.store(true);
    interrupter.join();
    ::sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_GT(signalsDuringPause, 0) << "no signal came during any pause";
}

// The Jetson Xavier/Orin video input moves every 12-bit sample to the top of its word (the
// low bits repeat its top bits). The library must see the samples the sensor produced; the
// RAW plane stays the frame as delivered. Other boards, and a USB camera on a Jetson, hand the
// frame over as it is.
TEST_F(VgaLifecycle, JetsonFramesReachTheLibraryShiftedBackOtherBoardsUnchanged) {
    const size_t samples = 640u * 2405u;
    std::vector<uint16_t> produced(samples);
    std::vector<uint8_t> delivered(2 * samples);
    for (size_t i = 0; i < samples; ++i) {
        produced[i] = static_cast<uint16_t>(((i * 2654435761u) >> 20) & 0x0FFF);
        const auto word = static_cast<uint16_t>((produced[i] << 4) | (produced[i] >> 8));
        delivered[2 * i] = static_cast<uint8_t>(word & 0xFF);
        delivered[2 * i + 1] = static_cast<uint8_t>(word >> 8);
    }
    std::vector<float> depth(640 * 480), amplitude(640 * 480), confidence(640 * 480);

    sensor.connect = Connection::CSI;
    CameraInfo info{};
    ASSERT_EQ(sensor.open(info), 0);
    QuarvelDeviceVGA jetson(BOARD_JETSON, 640, 480, library, [](std::chrono::milliseconds) {});
    ASSERT_EQ(jetson.open(&sensor), 0);
    // No stream prepared, so no buffer to shift into: the frame fails rather than allocate.
    EXPECT_FALSE(jetson.getPhaseImage(delivered.data(), depth.data(), amplitude.data(),
                                      confidence.data()));
    ASSERT_EQ(jetson.prepare(), 0);
    ASSERT_EQ(jetson.start(), 0);
    ASSERT_TRUE(jetson.getPhaseImage(delivered.data(), depth.data(), amplitude.data(),
                                     confidence.data()));
    ASSERT_NE(library.lastRaw, nullptr);
    ASSERT_NE(library.lastRaw, static_cast<const void*>(delivered.data()));
    EXPECT_EQ(std::memcmp(library.lastRaw, produced.data(), 2 * samples), 0);
    std::vector<int16_t> rawPlane(samples);
    ASSERT_TRUE(jetson.getRawImages(delivered.data(), rawPlane.data()));
    EXPECT_EQ(std::memcmp(rawPlane.data(), delivered.data(), 2 * samples), 0);
    jetson.close();

    // The same board with the camera on USB: nothing moved the samples.
    sensor.connect = Connection::USB;
    ASSERT_EQ(sensor.open(info), 0);
    ASSERT_EQ(jetson.open(&sensor), 0);
    ASSERT_EQ(jetson.prepare(), 0);
    ASSERT_EQ(jetson.start(), 0);
    ASSERT_TRUE(jetson.getPhaseImage(delivered.data(), depth.data(), amplitude.data(),
                                     confidence.data()));
    EXPECT_EQ(library.lastRaw, static_cast<const void*>(delivered.data()));
    jetson.close();

    ASSERT_EQ(device->open(&sensor), 0);  // Raspberry Pi 5
    ASSERT_EQ(device->prepare(), 0);
    ASSERT_EQ(device->start(), 0);
    ASSERT_TRUE(device->getPhaseImage(delivered.data(), depth.data(), amplitude.data(),
                                      confidence.data()));
    EXPECT_EQ(library.lastRaw, static_cast<const void*>(delivered.data()));
}
