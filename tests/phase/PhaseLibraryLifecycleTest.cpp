// The nine entry points: null safety, call order, frame acceptance, mode changes, threads.
#include <atomic>
#include <thread>

#include "tests/phase/PhaseLibraryHarness.h"

using namespace phase_test;

namespace {

constexpr int kWidth = 32;
constexpr int kHeight = 24;

SyntheticScene wall(double distanceMm) { return wallAt(distanceMm, kWidth, kHeight); }

class PhaseLibraryLifecycle : public ::testing::Test {
protected:
    TemporaryDirectory directory;
    ScopedWorkingDirectory inDirectory{directory.path()};
};

}  // namespace

TEST_F(PhaseLibraryLifecycle, NullHandlesAndPointersAreRefusedWithoutHarm) {
    EXPECT_FALSE(SiSDKCreate(nullptr));
    EXPECT_FALSE(SiSDKInit(nullptr, kWidth, kHeight));
    EXPECT_FALSE(SiSDKSetCaliData(nullptr, "x", 1));
    EXPECT_FALSE(SiSDKSetConfig(nullptr, "."));
    EXPECT_FALSE(SiSDKStart(nullptr));
    float p[1];
    EXPECT_FALSE(SiSDKGetPhaseImage(nullptr, p, p, p, p));
    EXPECT_EQ(SiSDKIsSingleFreq(nullptr), 1);
    EXPECT_FALSE(SiSDKSetSingleFreq(nullptr, false));
    SiSDKDestroy(nullptr);
    SiSDKHandle none = nullptr;
    SiSDKDestroy(&none);

    LibraryInstance library;
    ASSERT_TRUE(library.startStream(kWidth, kHeight, false));
    const auto raw = frameOf(wall(500), false);
    Planes planes(kWidth, kHeight);
    float* d = planes.depth.data();
    float* a = planes.amplitude.data();
    float* c = planes.confidence.data();
    EXPECT_FALSE(SiSDKGetPhaseImage(library.handle, nullptr, d, a, c));
    EXPECT_FALSE(SiSDKGetPhaseImage(library.handle, raw.data(), nullptr, a, c));
    EXPECT_FALSE(SiSDKGetPhaseImage(library.handle, raw.data(), d, nullptr, c));
    EXPECT_FALSE(SiSDKGetPhaseImage(library.handle, raw.data(), d, a, nullptr));
    EXPECT_FALSE(SiSDKSetConfig(library.handle, nullptr));
    EXPECT_FALSE(SiSDKSetCaliData(library.handle, nullptr, 100));
}

TEST_F(PhaseLibraryLifecycle, FramesNeedASuccessfulInitAndStart) {
    SiSDKHandle handle = nullptr;
    ASSERT_TRUE(SiSDKCreate(&handle));
    EXPECT_NE(SiSDKIsSingleFreq(handle), 0) << "a new instance is single frequency";
    SiSDKDestroy(&handle);
    EXPECT_EQ(handle, nullptr);

    LibraryInstance library;
    ASSERT_TRUE(library.created);
    const auto raw = frameOf(wall(500), false);
    Planes planes(kWidth, kHeight);
    EXPECT_FALSE(library.process(raw, planes));  // nothing initialised
    EXPECT_FALSE(SiSDKStart(library.handle));
    ASSERT_TRUE(SiSDKInit(library.handle, kWidth, kHeight));
    EXPECT_FALSE(library.process(raw, planes));  // initialised, not started
    ASSERT_TRUE(SiSDKStart(library.handle));
    EXPECT_TRUE(library.process(raw, planes));

    // A refused init leaves no stream behind.
    for (auto size :
         {std::pair<int, int>{0, 480}, {640, 0}, {-640, 480}, {3, 480}, {4097, 480}, {640, 5000}}) {
        EXPECT_FALSE(SiSDKInit(library.handle, size.first, size.second))
            << size.first << "x" << size.second;
        EXPECT_FALSE(SiSDKStart(library.handle));
        EXPECT_FALSE(library.process(raw, planes));
    }
}

TEST_F(PhaseLibraryLifecycle, ModeRequestedWhileStreamingReachesFramesAtTheNextStart) {
    LibraryInstance library;
    LibraryInstance other;  // instances are independent
    ASSERT_TRUE(library.startStream(kWidth, kHeight, false));
    ASSERT_TRUE(other.startStream(kWidth, kHeight, false));
    const auto single = frameOf(wall(700), false);
    const auto dual = frameOf(wall(3700), true);
    Planes planes(kWidth, kHeight);

    EXPECT_TRUE(SiSDKSetSingleFreq(library.handle, false));
    EXPECT_EQ(SiSDKIsSingleFreq(library.handle), 0);  // reported at once
    EXPECT_NE(SiSDKIsSingleFreq(other.handle), 0);
    EXPECT_TRUE(library.process(single, planes));  // the stream stays single
    EXPECT_NEAR(planes.depth[0], 700.0, 0.5);
    EXPECT_FALSE(library.process(dual, planes));

    ASSERT_TRUE(SiSDKInit(library.handle, kWidth, kHeight));
    ASSERT_TRUE(SiSDKStart(library.handle));
    EXPECT_EQ(SiSDKIsSingleFreq(library.handle), 0);  // Init keeps the mode
    EXPECT_FALSE(library.process(single, planes));
    EXPECT_TRUE(library.process(dual, planes));
    EXPECT_NEAR(planes.depth[0], 3700.0, 0.5);
    EXPECT_TRUE(other.process(single, planes));
    EXPECT_NEAR(planes.depth[0], 700.0, 0.5);
}

TEST_F(PhaseLibraryLifecycle, FrameWhoseEmbeddedLinesDisagreeIsRejectedWithPlanesUntouched) {
    LibraryInstance library;
    ASSERT_TRUE(library.startStream(kWidth, kHeight, true));
    const auto good = frameOf(wall(2000), true);
    const size_t blockBytes = 2 * static_cast<size_t>(kWidth) * (kHeight + 1);
    struct Change {
        const char* what;
        size_t byte;
        uint8_t value;
    };
    const Change changes[] = {
        {"block kind of block 2", 2 * blockBytes + 0, 3},
        {"frequency index of block 7", 7 * blockBytes + 2, 0},
        {"range of block 5", 5 * blockBytes + 4, 0xE2},  // 1506 instead of 1500
        {"grey block marked as phase", 9 * blockBytes + 0, 0},
    };
    for (const Change& change : changes) {
        auto raw = good;
        raw[change.byte] = change.value;
        Planes planes(kWidth, kHeight);
        EXPECT_FALSE(library.process(raw, planes)) << change.what;
        EXPECT_EQ(planes.depth, std::vector<float>(planes.depth.size(), -1.0f)) << change.what;
        EXPECT_EQ(planes.confidence, planes.depth) << change.what;
    }
    auto counted = good;
    counted[3 * 2] = 0x7B;  // the frame counter is free to change
    Planes planes(kWidth, kHeight);
    EXPECT_TRUE(library.process(counted, planes));
}

TEST_F(PhaseLibraryLifecycle, ModeCallsFromAnotherThreadDoNotDisturbARunningStream) {
    LibraryInstance library;
    ASSERT_TRUE(library.startStream(kWidth, kHeight, true));
    const auto raw = frameOf(wall(3100), true);
    std::atomic<bool> done{false};
    std::atomic<long> toggles{0};
    std::thread controls([&] {
        bool single = false;
        while (!done.load()) {
            single = !single;
            SiSDKSetSingleFreq(library.handle, single);
            if ((SiSDKIsSingleFreq(library.handle) != 0) != single) break;
            toggles.fetch_add(1);
        }
    });
    // Frames keep coming until the other thread has switched the mode many times.
    int frames = 0, good = 0;
    while ((frames < 200 || toggles.load() < 2000) && frames < 2000000) {
        Planes planes(kWidth, kHeight);
        ++frames;
        if (library.process(raw, planes) && std::fabs(planes.depth[kWidth * 5 + 7] - 3100) < 1.0) {
            ++good;
        }
    }
    done.store(true);
    controls.join();
    EXPECT_EQ(good, frames);
    EXPECT_GE(toggles.load(), 2000);
}
