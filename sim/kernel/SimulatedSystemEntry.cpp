// The simulation library's entry point for QUARVEL_SIMULATED_BOARD ("<board>:<sensor>").
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/ThreadSafety.h"
#include "sim/kernel/SimBoard.h"
#include "sim/kernel/SimulatedSystems.h"

namespace Quarvel {
namespace sim {

SimBoard* simulatedBoard(const std::string& name) {
    // Faults follow the board and sensor, each after a '+'.
    const size_t plus = name.find('+');
    const std::string boardAndSensor = name.substr(0, plus);
    std::vector<SimFault> faults;
    std::string faultKey;
    for (size_t at = plus; at != std::string::npos;) {
        const size_t next = name.find('+', at + 1);
        const std::string faultName = name.substr(at + 1, next == std::string::npos
                                                              ? std::string::npos
                                                              : next - at - 1);
        SimFault fault;
        if (!SimBoard::faultNamed(faultName, &fault)) return nullptr;
        faults.push_back(fault);
        faultKey += "+" + faultName;
        at = next;
    }
    const size_t colon = boardAndSensor.find(':');
    const std::string boardName = boardAndSensor.substr(0, colon);
    const std::string sensorName =
        colon == std::string::npos ? std::string("hqvga") : boardAndSensor.substr(colon + 1);
    BoardKind kind;
    if (!SimBoard::named(boardName, &kind)) return nullptr;
    // Jetson boards have no media graph whose link could be missing.
    const bool jetson = kind == BoardKind::JetsonNano || kind == BoardKind::JetsonTx1 ||
                        kind == BoardKind::JetsonXavierNx || kind == BoardKind::JetsonAgxOrin;
    for (SimFault fault : faults) {
        if (jetson && fault == SimFault::MediaLink) return nullptr;
    }
    SimSensor sensor;
    if (sensorName == "hqvga") {
        sensor = SimSensor::Hqvga;
    } else if (sensorName == "vga") {
        sensor = SimSensor::Vga;
    } else {
        return nullptr;
    }
    // One board per name for the life of the process, as a machine has one kernel.
    static Mutex boardsMutex;  // guards boards
    static auto* boards PT_GUARDED_BY(boardsMutex) =
        new std::map<std::string, std::unique_ptr<SimBoard>>();
    MutexLock lock(boardsMutex);
    const std::string key = std::string(SimBoard::nameOf(kind)) + ":" + sensorName + faultKey;
    std::unique_ptr<SimBoard>& board = (*boards)[key];
    if (!board) {
        SimBoardBuilder builder = SimBoard::of(kind).sensor(sensor);
        for (SimFault fault : faults) builder.fault(fault);
        board = builder.build();
    }
    return board.get();
}

}  // namespace sim
}  // namespace Quarvel

extern "C" __attribute__((visibility("default"))) void* quarvel_simulated_system_calls(
    const char* boardAndSensor) {
    if (boardAndSensor == nullptr) return nullptr;
    Quarvel::sim::SimBoard* board = Quarvel::sim::simulatedBoard(boardAndSensor);
    if (board == nullptr) return nullptr;
    return static_cast<Quarvel::SystemCalls*>(&board->kernel());
}
