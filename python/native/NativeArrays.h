// numpy arguments of the geometry extension: float32 images in, optional output buffers.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "geometry/DepthFilters.h"

namespace Quarvel {
namespace native {

namespace py = pybind11;
using FloatArray = py::array_t<float, py::array::c_style | py::array::forcecast>;

// A 2-D image argument (converted to C-ordered float32 when it is not already).
struct ImageArgument {
    FloatArray array;
    int width = 0;
    int height = 0;

    DepthFilters::Image image() const { return {array.data(), static_cast<size_t>(array.size())}; }
};

ImageArgument imageArgument(const py::handle& object, const char* name);

// `out` when given (a writable C-contiguous float32 array of `shape`), else a new array.
// Raises ValueError naming `name` for anything else.
FloatArray outputArray(const py::object& out, const std::vector<py::ssize_t>& shape);

inline DepthFilters::Output outputOf(FloatArray& array) {
    return {array.mutable_data(), static_cast<size_t>(array.size())};
}

}  // namespace native
}  // namespace Quarvel
