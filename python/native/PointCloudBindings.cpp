// Point clouds and PLY files on the Python side.
#include "geometry/PlyWriter.h"
#include "geometry/PointCloud.h"
#include "python/native/NativeArrays.h"
#include "python/native/NativeRegistration.h"

namespace Quarvel {
namespace native {

namespace {

ImageArgument depthOfCloud(const PointCloud& cloud, const py::object& object) {
    ImageArgument depth = imageArgument(object, "depth");
    if (depth.width != cloud.width() || depth.height != cloud.height())
        throw py::value_error("depth must be " + std::to_string(cloud.height()) + " x " +
                              std::to_string(cloud.width()) + " (the intrinsics' size)");
    return depth;
}

}  // namespace

void registerPointCloud(py::module_& module) {
    py::class_<PointCloud>(module, "PointCloud")
        .def(py::init([](const Intrinsics& intrinsics) {
                 if (!intrinsics.valid()) throw py::value_error("invalid intrinsics");
                 return std::make_unique<PointCloud>(intrinsics);
             }),
             py::arg("intrinsics"))
        .def_property_readonly("width", &PointCloud::width)
        .def_property_readonly("height", &PointCloud::height)
        .def_property_readonly("intrinsics", &PointCloud::lens)
        .def_property_readonly(
            "rays",
            [](const PointCloud& cloud) {
                const std::vector<float>& rays = cloud.rays();
                FloatArray result({static_cast<py::ssize_t>(cloud.height()),
                                   static_cast<py::ssize_t>(cloud.width()), py::ssize_t{3}});
                std::copy(rays.begin(), rays.end(), result.mutable_data());
                return result;
            })
        .def(
            "organised",
            [](const PointCloud& cloud, const py::object& depthObject, float scale,
               const py::object& out) {
                const ImageArgument depth = depthOfCloud(cloud, depthObject);
                FloatArray points = outputArray(out, {depth.height, depth.width, 3});
                cloud.compute(depth.array.data(), static_cast<size_t>(depth.array.size()), scale,
                              points.mutable_data(), static_cast<size_t>(points.size()));
                return points;
            },
            py::arg("depth"), py::arg("scale"), py::arg("out") = py::none())
        .def(
            "dense",
            [](const PointCloud& cloud, const py::object& depthObject,
               const py::object& amplitudeObject, float scale) {
                const ImageArgument depth = depthOfCloud(cloud, depthObject);
                const bool coloured = !amplitudeObject.is_none();
                ImageArgument amplitude;
                if (coloured) {
                    amplitude = imageArgument(amplitudeObject, "amplitude");
                    if (amplitude.width != depth.width || amplitude.height != depth.height)
                        throw py::value_error("amplitude must have the shape of depth");
                }
                const py::ssize_t pixels = depth.array.size();
                FloatArray points({pixels, py::ssize_t{3}});
                FloatArray amplitudes(std::vector<py::ssize_t>{coloured ? pixels : 0});
                const long count =
                    cloud.computeDense(depth.array.data(), static_cast<size_t>(pixels),
                                       coloured ? amplitude.array.data() : nullptr,
                                       coloured ? static_cast<size_t>(pixels) : 0, scale,
                                       points.mutable_data(), static_cast<size_t>(points.size()),
                                       coloured ? amplitudes.mutable_data() : nullptr,
                                       static_cast<size_t>(amplitudes.size()));
                points.resize({static_cast<py::ssize_t>(count), py::ssize_t{3}}, false);
                if (!coloured) return py::make_tuple(points, py::none());
                amplitudes.resize({static_cast<py::ssize_t>(count)}, false);
                return py::make_tuple(points, amplitudes);
            },
            py::arg("depth"), py::arg("amplitude"), py::arg("scale"));

    module.def(
        "write_ply",
        [](const std::string& path, const py::object& pointsObject,
           const py::object& amplitudeObject) {
            FloatArray points = FloatArray::ensure(pointsObject);
            if (!points || points.size() % 3 != 0 || points.ndim() < 2 ||
                points.shape(points.ndim() - 1) != 3)
                throw py::value_error("points must be an array of shape (..., 3)");
            const size_t count = static_cast<size_t>(points.size() / 3);
            FloatArray amplitude;
            if (!amplitudeObject.is_none()) {
                amplitude = FloatArray::ensure(amplitudeObject);
                if (!amplitude || static_cast<size_t>(amplitude.size()) != count)
                    throw py::value_error("amplitude must hold one value per point");
            }
            const long written = writePly(path, points.data(), count,
                                          amplitudeObject.is_none() ? nullptr : amplitude.data());
            if (written < 0) throw py::value_error("cannot write '" + path + "'");
            return written;
        },
        py::arg("path"), py::arg("points"), py::arg("amplitude") = py::none());
}

}  // namespace native
}  // namespace Quarvel
