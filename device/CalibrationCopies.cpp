// Calibration copies read once per start through the bounded user-file reader.
#include "device/CalibrationCopies.h"

#include "core/UserFiles.h"

namespace Quarvel {

CalibrationCopies::View CalibrationCopies::load(const char* path) {
    std::string bytes;
    if (readUserFile(path, kMaxBytes, bytes) != UserPathStatus::Ok || bytes.empty()) return {};
    if (copies.empty() || *copies.back() != bytes) {
        copies.push_back(std::make_unique<const std::string>(std::move(bytes)));
    }
    return {copies.back()->data(), copies.back()->size()};
}

}  // namespace Quarvel
