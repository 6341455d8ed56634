// Intrinsics and their sources on the Python side.
#include <pybind11/stl.h>

#include "geometry/CameraInfoFile.h"
#include "geometry/Intrinsics.h"
#include "python/native/NativeRegistration.h"

namespace Quarvel {
namespace native {

namespace py = pybind11;

void registerIntrinsics(py::module_& module) {
    py::class_<Intrinsics>(module, "Intrinsics")
        .def(py::init([](int width, int height, double fx, double fy, double cx, double cy,
                         std::vector<double> distortion) {
                 if (distortion.size() != 0 && distortion.size() != 4 && distortion.size() != 5)
                     throw py::value_error("distortion holds k1, k2, p1, p2 and optionally k3");
                 distortion.resize(5, 0.0);
                 Intrinsics intrinsics;
                 intrinsics.width = width;
                 intrinsics.height = height;
                 intrinsics.fx = fx;
                 intrinsics.fy = fy;
                 intrinsics.cx = cx;
                 intrinsics.cy = cy;
                 intrinsics.distortion = {distortion[0], distortion[1], distortion[2],
                                          distortion[3], distortion[4]};
                 if (!intrinsics.valid()) throw py::value_error("invalid intrinsics");
                 return intrinsics;
             }),
             py::arg("width"), py::arg("height"), py::arg("fx"), py::arg("fy"), py::arg("cx"),
             py::arg("cy"), py::arg("distortion") = std::vector<double>{})
        .def_static("nominal", &Intrinsics::nominal, py::arg("width"), py::arg("height"))
        .def_readonly("width", &Intrinsics::width)
        .def_readonly("height", &Intrinsics::height)
        .def_readonly("fx", &Intrinsics::fx)
        .def_readonly("fy", &Intrinsics::fy)
        .def_readonly("cx", &Intrinsics::cx)
        .def_readonly("cy", &Intrinsics::cy)
        .def_property_readonly("distortion",
                               [](const Intrinsics& i) {
                                   const Distortion& d = i.distortion;
                                   return std::vector<double>{d.k1, d.k2, d.p1, d.p2, d.k3};
                               })
        .def(
            "project",
            [](const Intrinsics& i, double x, double y) {
                double u = 0, v = 0;
                i.project(x, y, u, v);
                return py::make_tuple(u, v);
            },
            py::arg("x"), py::arg("y"))
        .def(
            "unproject",
            [](const Intrinsics& i, double u, double v) {
                double x = 0, y = 0;
                i.unproject(u, v, x, y);
                return py::make_tuple(x, y);
            },
            py::arg("u"), py::arg("v"))
        .def("__repr__", [](const Intrinsics& i) {
            const Distortion& d = i.distortion;
            return "Intrinsics(" + std::to_string(i.width) + "x" + std::to_string(i.height) +
                   ", fx=" + std::to_string(i.fx) + ", fy=" + std::to_string(i.fy) +
                   ", cx=" + std::to_string(i.cx) + ", cy=" + std::to_string(i.cy) +
                   ", distortion=[" + std::to_string(d.k1) + ", " + std::to_string(d.k2) + ", " +
                   std::to_string(d.p1) + ", " + std::to_string(d.p2) + ", " +
                   std::to_string(d.k3) + "])";
        });

    // Both return (intrinsics, None) or (None, reason): the caller raises.
    module.def(
        "read_camera_info",
        [](const std::string& path) -> py::tuple {
            Intrinsics intrinsics;
            std::string error;
            if (readCameraInfo(path, intrinsics, error) != 0)
                return py::make_tuple(py::none(), error);
            return py::make_tuple(intrinsics, py::none());
        },
        py::arg("path"));
    module.def(
        "resolve_intrinsics",
        [](const std::string& path, int width, int height) -> py::tuple {
            Intrinsics intrinsics;
            std::string error;
            if (resolveIntrinsics(path, width, height, intrinsics, error) != 0)
                return py::make_tuple(py::none(), error);
            return py::make_tuple(intrinsics, py::none());
        },
        py::arg("path"), py::arg("width"), py::arg("height"));
}

}  // namespace native
}  // namespace Quarvel
