// QuarvelFormat and QuarvelInfo: Python copies of the core records, fields read-write.
#include "core/Types.h"
#include "python/Registration.h"

namespace py = pybind11;

namespace Quarvel {
namespace python {

// No constructor: instances come only from getFrameFormat and getCameraInfo, each owning
// its own copy. pybind11's integer casters refuse floats and values outside the field's
// width, so a refused assignment leaves the record unchanged.
void registerRecords(py::module_& module) {
    py::class_<FrameDataFormat>(module, "QuarvelFormat")
        .def_readwrite("width", &FrameDataFormat::width)
        .def_readwrite("height", &FrameDataFormat::height)
        .def_readwrite("timestamp", &FrameDataFormat::timestamp)
        .def_readwrite("type", &FrameDataFormat::type);

    py::class_<CameraInfo>(module, "QuarvelInfo")
        .def_readwrite("index", &CameraInfo::index)
        .def_readwrite("connect", &CameraInfo::connect)
        .def_readwrite("device_type", &CameraInfo::device_type)
        .def_readwrite("type", &CameraInfo::type)
        .def_readwrite("width", &CameraInfo::width)
        .def_readwrite("height", &CameraInfo::height)
        .def_readwrite("bit_width", &CameraInfo::bit_width)
        .def_readwrite("bpp", &CameraInfo::bpp);
}

}  // namespace python
}  // namespace Quarvel
