// QuarvelFrame, RawData and DepthData: frame classes with plane copies and format records.
#include <pybind11/numpy.h>

#include "python/FrameViews.h"
#include "python/PlaneArrays.h"
#include "python/Registration.h"

namespace py = pybind11;

namespace Quarvel {
namespace python {

namespace {

FrameDataFormat formatOf(const FrameView& frame, FrameType type) {
    FrameDataFormat format{};
    frame.usableBuffer().getFormat(type, format);
    return format;
}

}  // namespace

// None of the three classes has a constructor: frames come only from requestFrame.
void registerFrames(py::module_& module) {
    py::class_<FrameView>(module, "QuarvelFrame");

    py::class_<RawFrameView, FrameView>(module, "RawData")
        .def(
            "getRawData",
            [](const RawFrameView& frame) { return copyRawPlane(frame.usableBuffer()); },
            "Get raw data from the frame")
        .def(
            "getFrameFormat",
            [](const RawFrameView& frame) { return formatOf(frame, FrameType::RAW); },
            "Get the information of this frame");

    // All three planes take their shape from the depth format.
    py::class_<DepthFrameView, FrameView>(module, "DepthData")
        .def(
            "getDepthData",
            [](const DepthFrameView& frame) {
                return copyFloatPlane(frame.usableBuffer(), FrameType::DEPTH, FrameType::DEPTH);
            },
            "Get depth data from the frame")
        .def(
            "getConfidenceData",
            [](const DepthFrameView& frame) {
                return copyFloatPlane(frame.usableBuffer(), FrameType::CONFIDENCE,
                                      FrameType::DEPTH);
            },
            "Get confidence data from the frame")
        .def(
            "getAmplitudeData",
            [](const DepthFrameView& frame) {
                return copyFloatPlane(frame.usableBuffer(), FrameType::AMPLITUDE, FrameType::DEPTH);
            },
            "Get amplitude data from the frame")
        .def(
            "getFrameFormat",
            [](const DepthFrameView& frame) { return formatOf(frame, FrameType::DEPTH); },
            "Get the information of this frame");
}

}  // namespace python
}  // namespace Quarvel
