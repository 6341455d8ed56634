// The nine entry points: null safety, call order, frame acceptance, mode changes, threads.
#include <atomic>
#include <thread>

#include "tests/phase/PhaseLibraryHarness.h"

using namespace phase_test;

namespace {

constexpr int kWidth = 32;
constexpr int kHeight = 24;

SyntheticScene wallAt(double distanceMm) {
    SyntheticScene scene;
    scene.width = kWidth;
    scene.height = kHeight;
    scene.distanceMm = [distanceMm](int, int) { return distanceMm; };
    return scene;
}

std::vector<uint8_t> frameOf(const SyntheticScene& scene, bool dual) {
    SynthesisOptions options;
    options.dualFrequency = dual;
    return synthesiseFrame(scene, options);
}

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
    float plane[1];
    EXPECT_FALSE(SiSDKGetPhaseImage(nullptr, plane, plane, plane, plane));
    EXPECT_EQ(SiSDKIsSingleFreq(nullptr), 1);
    EXPECT_FALSE(SiSDKSetSingleFreq(nullptr, false));
    SiSDKDestroy(nullptr);
    SiSDKHandle none = nullptr;
    SiSDKDestroy(&none);
    EXPECT_EQ(none, nullptr);

    LibraryInstance library;
    ASSERT_TRUE(library.startStream(kWidth, kHeight, false));
    const auto raw = frameOf(wallAt(500), false);
    Planes planes(kWidth, kHeight);
    EXPECT_FALSE(SiSDKGetPhaseImage(library.handle, nullptr, planes.depth.data(),
                                    planes.amplitude.data(), planes.confidence.data()));
    EXPECT_FALSE(SiSDKGetPhaseImage(library.handle, raw.data(), nullptr, planes.amplitude.data(),
                                    planes.confidence.data()));
    EXPECT_FALSE(SiSDKGetPhaseImage(library.handle, raw.data(), planes.depth.data(), nullptr,
                                    planes.confidence.data()));
    EXPECT_FALSE(SiSDKGetPhaseImage(library.handle, raw.data(), planes.depth.data(),
                                    planes.amplitude.data(), nullptr));
    EXPECT_FALSE(SiSDKSetConfig(library.handle, nullptr));
    EXPECT_FALSE(SiSDKSetCaliData(library.handle, nullptr, 100));
}

TEST_F(PhaseLibraryLifecycle, CreateGivesASingleFrequencyInstanceAndDestroyNullsTheHandle) {
    SiSDKHandle handle = nullptr;
    ASSERT_TRUE(SiSDKCreate(&handle));
    ASSERT_NE(handle, nullptr);
    EXPECT_NE(SiSDKIsSingleFreq(handle), 0);
    EXPECT_TRUE(SiSDKSetSingleFreq(handle, false));
    EXPECT_EQ(SiSDKIsSingleFreq(handle), 0);
    EXPECT_TRUE(SiSDKSetSingleFreq(handle, true));
    EXPECT_NE(SiSDKIsSingleFreq(handle), 0);
    SiSDKDestroy(&handle);
    EXPECT_EQ(handle, nullptr);
}

TEST_F(PhaseLibraryLifecycle, FramesNeedASuccessfulInitAndStart) {
    LibraryInstance library;
    ASSERT_TRUE(library.created);
    const auto raw = frameOf(wallAt(500), false);
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
    ASSERT_TRUE(library.startStream(kWidth, kHeight, false));
    const auto single = frameOf(wallAt(700), false);
    const auto dual = frameOf(wallAt(700), true);
    Planes planes(kWidth, kHeight);

    EXPECT_TRUE(SiSDKSetSingleFreq(library.handle, false));
    EXPECT_EQ(SiSDKIsSingleFreq(library.handle), 0);  // reported at once
    EXPECT_TRUE(library.process(single, planes));     // the stream stays single
    EXPECT_NEAR(planes.depth[0], 700.0, 0.5);
    EXPECT_FALSE(library.process(dual, planes));

    ASSERT_TRUE(SiSDKInit(library.handle, kWidth, kHeight));
    ASSERT_TRUE(SiSDKStart(library.handle));
    EXPECT_EQ(SiSDKIsSingleFreq(library.handle), 0);  // Init keeps the mode
    EXPECT_FALSE(library.process(single, planes));
    EXPECT_TRUE(library.process(dual, planes));
    EXPECT_NEAR(planes.depth[0], 700.0, 0.5);
}

TEST_F(PhaseLibraryLifecycle, FrameWhoseEmbeddedLinesDisagreeIsRejectedWithPlanesUntouched) {
    LibraryInstance library;
    ASSERT_TRUE(library.startStream(kWidth, kHeight, true));
    const auto good = frameOf(wallAt(2000), true);
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
    const auto raw = frameOf(wallAt(3100), true);
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
    int good = 0;
    for (int frame = 0; frame < 200; ++frame) {
        Planes planes(kWidth, kHeight);
        if (library.process(raw, planes) && std::fabs(planes.depth[kWidth * 5 + 7] - 3100) < 1.0) {
            ++good;
        }
    }
    done.store(true);
    controls.join();
    EXPECT_EQ(good, 200);
    EXPECT_GT(toggles.load(), 0);
}

TEST_F(PhaseLibraryLifecycle, InstancesAreIndependent) {
    LibraryInstance single;
    LibraryInstance dual;
    ASSERT_TRUE(single.startStream(kWidth, kHeight, false));
    ASSERT_TRUE(dual.startStream(kWidth, kHeight, true));
    EXPECT_NE(SiSDKIsSingleFreq(single.handle), 0);
    EXPECT_EQ(SiSDKIsSingleFreq(dual.handle), 0);
    Planes a(kWidth, kHeight);
    Planes b(kWidth, kHeight);
    EXPECT_TRUE(single.process(frameOf(wallAt(1000), false), a));
    EXPECT_TRUE(dual.process(frameOf(wallAt(4000), true), b));
    EXPECT_NEAR(a.depth[10], 1000.0, 0.5);
    EXPECT_NEAR(b.depth[10], 4000.0, 0.5);
}
