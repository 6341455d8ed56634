// A simulated machine with the kernel's own test drivers: vivid, vimc and i2c-stub.
#pragma once

#include <memory>

#include "sim/kernel/SimKernel.h"

namespace Quarvel {
namespace sim {

// The same devices a virtual machine shows after
//   modprobe vivid n_devs=2 node_types=0x1,0x1 multiplanar=1,2
//   modprobe vimc; modprobe i2c-stub chip_addr=0x0c; modprobe i2c-dev
// so that one set of tests can run against this kernel and against the real one:
// - /dev/video0: vivid capture, single-planar, with its own media device /dev/media0;
// - /dev/video1: vivid capture, multi-planar with one plane, media device /dev/media1;
// - /dev/media2: vimc's graph, its "Sensor A" subdevice at /dev/v4l-subdev0;
// - /dev/i2c-0: the i2c-stub adapter, "SMBus stub driver", SMBus only, no client bound.
//
//   auto lab = SimDriverLab::build();
//   QuarvelTOFCSISensor sensor(lab->kernel(), "/dev/video0", BOARD_JETSON_NANO);
class SimDriverLab {
public:
    static constexpr int kStubBus = 0;
    static constexpr const char* kStubName = "SMBus stub driver";

    static std::unique_ptr<SimDriverLab> build();

    SimKernel& kernel() { return *simKernel; }

private:
    SimDriverLab() = default;

    // Owns every device through its /dev node.
    std::unique_ptr<SimKernel> simKernel;
};

}  // namespace sim
}  // namespace Quarvel
