// A VGA device over a scripted phase library and a scripted sensor, in a scratch directory.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "device/QuarvelDeviceVGA.h"
#include "tests/phase/PhaseTestSupport.h"
#include "tests/support/ScriptedComponents.h"
#include "tests/vga/ScriptedPhaseLibrary.h"

namespace vga_test {

// A scripted sensor that can refuse a frame rate.
class RateRefusingSensor : public Quarvel::support::ScriptedSensor {
public:
    using ScriptedSensor::ScriptedSensor;
    int setControl(Quarvel::CameraCtrl ctrl, int value) override {
        if (ctrl == Quarvel::CameraCtrl::FRAME_RATE && frameRateResult != 0) return frameRateResult;
        return ScriptedSensor::setControl(ctrl, value);
    }
    int frameRateResult = 0;
};

class VgaDeviceTest : public ::testing::Test {
protected:
    int readControl(Quarvel::CameraCtrl ctrl, int* status = nullptr) {
        int value = -12345;
        const int result = device->getControl(ctrl, &value);
        if (status) *status = result;
        return value;
    }

    phase_test::TemporaryDirectory directory;
    phase_test::ScopedWorkingDirectory inDirectory{directory.path()};
    ScriptedPhaseLibrary library;  // outlives the device
    Quarvel::support::CallLog log;
    RateRefusingSensor sensor{"sensor", log};
    std::vector<std::chrono::milliseconds> pauses;
    std::unique_ptr<Quarvel::QuarvelDeviceVGA> device = std::make_unique<Quarvel::QuarvelDeviceVGA>(
        Quarvel::BOARD_RASPBERRY_PI_5, 640, 480, library,
        [this](std::chrono::milliseconds duration) { pauses.push_back(duration); });
};

}  // namespace vga_test
