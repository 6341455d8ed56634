// The registration steps of the extension module, called in the module's fixed order.
#pragma once

#include <pybind11/pybind11.h>

namespace Quarvel {
namespace python {

// TOFDeviceType, TOFOutput, TOFConnect, TOFControl, TofWorkMode, TofFrameWorkMode,
// TOFErrorCode, each with its members in their fixed order.
void registerEnums(pybind11::module_& module);
// QuarvelFormat and QuarvelInfo. Needs the enums.
void registerRecords(pybind11::module_& module);
// QuarvelFrame, RawData and DepthData. Needs the records.
void registerFrames(pybind11::module_& module);
// QuarvelCamera. Needs everything above.
void registerCamera(pybind11::module_& module);

}  // namespace python
}  // namespace Quarvel
