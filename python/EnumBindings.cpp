// The seven enums of the module, bound over the core enums with their fixed member order.
#include <cstdint>
#include <string>

#include "core/Types.h"
#include "python/Registration.h"

namespace py = pybind11;

namespace Quarvel {
namespace python {

// Plain core enums (DeviceType, TofErrorCode) compare equal to ints; the scoped ones only to
// their own members. pybind11 derives that from the convertibility of the C++ type, so
// the enums are bound without the arithmetic option and without exporting the members.
void registerEnums(py::module_& module) {
    py::enum_<DeviceType>(module, "TOFDeviceType").value("VGA", VGA).value("HQVGA", HQVGA);

    // AMPLITUDE has no member: it names a plane, never an output type.
    py::enum_<FrameType>(module, "TOFOutput")
        .value("RAW", FrameType::RAW)
        .value("DEPTH", FrameType::DEPTH)
        .value("CONFIDENCE", FrameType::CONFIDENCE)
        .value("CACHE", FrameType::CACHE);

    py::enum_<Connection>(module, "TOFConnect")
        .value("CSI", Connection::CSI)
        .value("USB", Connection::USB);

    // AUTO_FRAME_RATE has no member; TOFControl(9) still reaches it.
    py::enum_<CameraCtrl>(module, "TOFControl")
        .value("RANGE", CameraCtrl::RANGE)
        .value("FMT_WIDTH", CameraCtrl::FMT_WIDTH)
        .value("FMT_HEIGHT", CameraCtrl::FMT_HEIGHT)
        .value("MODE", CameraCtrl::MODE)
        .value("FRAME_MODE", CameraCtrl::FRAME_MODE)
        .value("EXPOSURE", CameraCtrl::EXPOSURE)
        .value("FRAME_RATE", CameraCtrl::FRAME_RATE)
        .value("SKIP_FRAME", CameraCtrl::SKIP_FRAME)
        .value("SKIP_FRAME_LOOP", CameraCtrl::SKIP_FRAME_LOOP)
        .value("CONFIG_DIR_EXT", CameraCtrl::CONFIG_DIR_EXT);

    py::enum_<TofWorkMode>(module, "TofWorkMode")
        .value("SINGLE_FREQ", TofWorkMode::SINGLE_FREQ)
        .value("DOUBLE_FREQ", TofWorkMode::DOUBLE_FREQ)
        .value("TRIPLE_FREQ", TofWorkMode::TRIPLE_FREQ)
        .value("QUAD_FREQ", TofWorkMode::QUAD_FREQ)
        .value("DISTANCE", TofWorkMode::DISTANCE)
        .value("HDR", TofWorkMode::HDR)
        .value("AE", TofWorkMode::AE)
        .value("BG_OUTDOOR", TofWorkMode::BG_OUTDOOR)
        .value("GRAY_ONLY", TofWorkMode::GRAY_ONLY)
        .value("CUSTOM1", TofWorkMode::CUSTOM1)
        .value("CUSTOM2", TofWorkMode::CUSTOM2)
        .value("CUSTOM3", TofWorkMode::CUSTOM3)
        // A second overload of the enum's own __int__; it shows in the method's docstring.
        .def("__int__", [](TofWorkMode mode) { return static_cast<int32_t>(mode); });

    py::enum_<TofFrameWorkMode>(module, "TofFrameWorkMode")
        .value("SINGLE_FREQ_2PHASE", TofFrameWorkMode::SINGLE_FREQ_2PHASE)
        .value("SINGLE_FREQ_4PHASE", TofFrameWorkMode::SINGLE_FREQ_4PHASE)
        .value("SINGLE_FREQ_4PHASE_GRAY", TofFrameWorkMode::SINGLE_FREQ_4PHASE_GRAY)
        .value("SINGLE_FREQ_4PHASE_BG", TofFrameWorkMode::SINGLE_FREQ_4PHASE_BG)
        .value("SINGLE_FREQ_4PHASE_4BG", TofFrameWorkMode::SINGLE_FREQ_4PHASE_4BG)
        .value("SINGLE_FREQ_4PHASE_GRAY_5BG", TofFrameWorkMode::SINGLE_FREQ_4PHASE_GRAY_5BG)
        .value("SINGLE_FREQ_GRAY_BG_4PHASE_GRAY_BG",
               TofFrameWorkMode::SINGLE_FREQ_GRAY_BG_4PHASE_GRAY_BG)
        .value("SINGLE_FREQ_GRAY_BG_4PHASE_BG", TofFrameWorkMode::SINGLE_FREQ_GRAY_BG_4PHASE_BG)
        .value("SINGLE_FREQ_BG_GRAY_BG_4PHASE", TofFrameWorkMode::SINGLE_FREQ_BG_GRAY_BG_4PHASE)
        .value("SINGLE_FREQ_BG_4PHASE_BG_GRAY", TofFrameWorkMode::SINGLE_FREQ_BG_4PHASE_BG_GRAY)
        .value("DOUBLE_FREQ_4PHASE", TofFrameWorkMode::DOUBLE_FREQ_4PHASE)
        .value("DOUBLE_FREQ_4PHASE_GRAY_4PHASE_BG",
               TofFrameWorkMode::DOUBLE_FREQ_4PHASE_GRAY_4PHASE_BG)
        .value("DOUBLE_FREQ_4PHASE_4BG", TofFrameWorkMode::DOUBLE_FREQ_4PHASE_4BG)
        .value("DOUBLE_FREQ_4PHASE_GRAY_5BG", TofFrameWorkMode::DOUBLE_FREQ_4PHASE_GRAY_5BG)
        .value("TRIPLE_FREQ_4PHASE", TofFrameWorkMode::TRIPLE_FREQ_4PHASE)
        .value("TRIPLE_FREQ_4PHASE_GRAY_4PHASE_GRAY_4PHASE_BG",
               TofFrameWorkMode::TRIPLE_FREQ_4PHASE_GRAY_4PHASE_GRAY_4PHASE_BG)
        .value("QUAD_FREQ_4PHASE", TofFrameWorkMode::QUAD_FREQ_4PHASE)
        .value("QUAD_FREQ_4PHASE_GRAY_4PHASE_BG_4PHASE_GRAY_4PHASE_BG",
               TofFrameWorkMode::QUAD_FREQ_4PHASE_GRAY_4PHASE_BG_4PHASE_GRAY_4PHASE_BG)
        .value("BG_OUTDOOR", TofFrameWorkMode::BG_OUTDOOR)
        .value("GRAY_ONLY", TofFrameWorkMode::GRAY_ONLY)
        .value("CUSTOM", TofFrameWorkMode::CUSTOM)
        .def("__int__", [](TofFrameWorkMode mode) { return static_cast<int32_t>(mode); });

    py::enum_<TofErrorCode>(module, "TOFErrorCode")
        .value("QuarvelSuccess", QuarvelSuccess)
        .value("QuarvelInvalidParameter", QuarvelInvalidParameter)
        .value("QuarvelNoCache", QuarvelNoCache)
        .value("QuarvelUnkownDevice", QuarvelUnkownDevice)
        .value("QuarvelNotImplemented", QuarvelNotImplemented)
        .value("QuarvelSkipFrame", QuarvelSkipFrame)
        .value("QuarvelSystemError", QuarvelSystemError)
        .value("QuarvelUnkownError", QuarvelUnkownError)
        // The message of the code; the built-in str() keeps the "TOFErrorCode.<name>" form.
        .def("str", [](TofErrorCode code) { return std::string(to_str(code)); });
}

}  // namespace python
}  // namespace Quarvel
