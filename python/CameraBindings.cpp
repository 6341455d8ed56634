// QuarvelCamera: the camera's operations, with statuses returned as TOFErrorCode members.
#include <cstdint>

#include "python/PythonCamera.h"
#include "python/Registration.h"

namespace py = pybind11;

namespace Quarvel {
namespace python {

namespace {

constexpr const char* kOpenDoc =
    "Initialize the camera configuration and turn on the camera, set the initialization "
    "frame according to the mode.\n\n- mode Specify the connection method.\n- index Device "
    "node, the default value is video0.";
constexpr const char* kOpenWithFileDoc =
    "Initialize the camera configuration and turn on the camera, set the initialization "
    "frame according to the mode.\n\n- path Specify the config file path.\n- index Device "
    "node, the default value is video0.";

// Every status comes back as a member of the same value, named or not; never as an error.
TofErrorCode status(int result) { return static_cast<TofErrorCode>(result); }

}  // namespace

// Argument kinds are checked by pybind11 before the core is called: enum parameters take
// only their own members, int parameters take ints or objects with __index__ within the
// parameter's width, and anything else raises TypeError. Native exceptions (a failed join
// in stop, an allocation failure in start) use pybind11's standard translation.
void registerCamera(py::module_& module) {
    py::class_<PythonCamera>(module, "QuarvelCamera")
        .def(py::init<>())
        .def(
            "open",
            [](PythonCamera& self, Connection mode, int32_t index) {
                return status(self.core().open(mode, index));
            },
            py::arg("mode"), py::arg("index") = 0, kOpenDoc)
        .def(
            "openWithFile",
            // str arrives as UTF-8 text, bytes-like objects as their bytes, None as null.
            [](PythonCamera& self, const char* path, int32_t index) {
                return status(self.core().openWithFile(path, index));
            },
            py::arg("path"), py::arg("index") = 0, kOpenWithFileDoc)
        .def(
            "close", [](PythonCamera& self) { return status(self.core().close()); },
            "Close the camera")
        .def(
            "start",
            [](PythonCamera& self, FrameType type) { return status(self.core().start(type)); },
            py::arg("type"), "Start the camera stream and start processing.")
        .def(
            "stop", [](PythonCamera& self) { return status(self.core().stop()); },
            "Stop camera stream and processing.")
        .def(
            "setControl",
            [](PythonCamera& self, CameraCtrl ctrl, int32_t value) {
                return status(self.core().setControl(ctrl, value));
            },
            py::arg("ctrl"), py::arg("value"), "Set camera parameters.")
        .def(
            "getControl",
            // Only the value: it stays 0 when the core refuses the read.
            [](PythonCamera& self, CameraCtrl ctrl) {
                int value = 0;
                self.core().getControl(ctrl, &value);
                return value;
            },
            py::arg("ctrl"), "Get camera parameters.")
        .def(
            "getCameraInfo", [](PythonCamera& self) { return self.core().getCameraInfo(); },
            "Get camera information.")
        .def(
            "requestFrame",
            [](PythonCamera& self, int16_t timeout) { return self.requestFrame(timeout); },
            py::arg("timeout"), py::return_value_policy::take_ownership,
            "Request a frame of data from the frame processing thread.")
        .def(
            "releaseFrame",
            [](PythonCamera& self, const FrameView* frame) {
                return status(self.releaseFrame(frame));
            },
            py::arg("frame"), "Free the memory space of the frame.");
}

}  // namespace python
}  // namespace Quarvel
