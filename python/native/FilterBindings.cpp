// The depth filters on numpy arrays.
#include "geometry/DepthFilters.h"
#include "python/native/NativeArrays.h"
#include "python/native/NativeRegistration.h"

namespace Quarvel {
namespace native {

namespace {

void check(int status, const char* filter) {
    if (status != 0)
        throw py::value_error(std::string(filter) + ": invalid arguments (status " +
                              std::to_string(status) + ")");
}

FloatArray sameShapeOutput(const ImageArgument& depth, const py::object& out) {
    return outputArray(out, {depth.height, depth.width});
}

}  // namespace

void registerFilters(py::module_& module) {
    module.def(
        "threshold_by_confidence",
        [](const py::object& depthObject, const py::object& confidenceObject, float minimum,
           const py::object& out) {
            const ImageArgument depth = imageArgument(depthObject, "depth");
            const ImageArgument confidence = imageArgument(confidenceObject, "confidence");
            if (confidence.width != depth.width || confidence.height != depth.height)
                throw py::value_error("confidence must have the shape of depth");
            FloatArray result = sameShapeOutput(depth, out);
            check(DepthFilters::thresholdByConfidence(depth.image(), confidence.image(), minimum,
                                                      outputOf(result), depth.width, depth.height),
                  "threshold_by_confidence");
            return result;
        },
        py::arg("depth"), py::arg("confidence"), py::arg("minimum"), py::arg("out") = py::none());
    module.def(
        "remove_flying_pixels",
        [](const py::object& depthObject, float maxRelativeStep, const py::object& out) {
            const ImageArgument depth = imageArgument(depthObject, "depth");
            FloatArray result = sameShapeOutput(depth, out);
            check(DepthFilters::removeFlyingPixels(depth.image(), maxRelativeStep, outputOf(result),
                                                   depth.width, depth.height),
                  "remove_flying_pixels");
            return result;
        },
        py::arg("depth"), py::arg("max_relative_step"), py::arg("out") = py::none());
    module.def(
        "smooth_preserving_edges",
        [](const py::object& depthObject, int radius, float maxStepMm, const py::object& out) {
            const ImageArgument depth = imageArgument(depthObject, "depth");
            FloatArray result = sameShapeOutput(depth, out);
            check(DepthFilters::smoothPreservingEdges(depth.image(), radius, maxStepMm,
                                                      outputOf(result), depth.width, depth.height),
                  "smooth_preserving_edges");
            return result;
        },
        py::arg("depth"), py::arg("radius"), py::arg("max_step_mm"), py::arg("out") = py::none());
    module.def(
        "fill_holes",
        [](const py::object& depthObject, int minNeighbours, const py::object& out) {
            const ImageArgument depth = imageArgument(depthObject, "depth");
            FloatArray result = sameShapeOutput(depth, out);
            check(DepthFilters::fillHoles(depth.image(), minNeighbours, outputOf(result),
                                          depth.width, depth.height),
                  "fill_holes");
            return result;
        },
        py::arg("depth"), py::arg("min_neighbours"), py::arg("out") = py::none());
    module.def(
        "median3x3",
        [](const py::object& depthObject, const py::object& out) {
            const ImageArgument depth = imageArgument(depthObject, "depth");
            FloatArray result = sameShapeOutput(depth, out);
            check(
                DepthFilters::median3x3(depth.image(), outputOf(result), depth.width, depth.height),
                "median3x3");
            return result;
        },
        py::arg("depth"), py::arg("out") = py::none());

    py::class_<DepthFilters::TemporalFilter>(module, "TemporalFilter")
        .def(py::init<int, int, float, float>(), py::arg("width"), py::arg("height"),
             py::arg("alpha"), py::arg("jump_mm"))
        .def(
            "apply",
            [](DepthFilters::TemporalFilter& filter, const py::object& depthObject,
               const py::object& out) {
                const ImageArgument depth = imageArgument(depthObject, "depth");
                if (depth.width != filter.width() || depth.height != filter.height())
                    throw py::value_error("depth must have the filter's width and height");
                FloatArray result = sameShapeOutput(depth, out);
                check(filter.apply(depth.image(), outputOf(result)), "TemporalFilter.apply");
                return result;
            },
            py::arg("depth"), py::arg("out") = py::none())
        .def("reset", &DepthFilters::TemporalFilter::reset)
        .def_property_readonly("width", &DepthFilters::TemporalFilter::width)
        .def_property_readonly("height", &DepthFilters::TemporalFilter::height);
}

}  // namespace native
}  // namespace Quarvel
