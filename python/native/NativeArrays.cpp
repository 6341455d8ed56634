// Conversion and checks of numpy arguments for the geometry extension.
#include "python/native/NativeArrays.h"

namespace Quarvel {
namespace native {

ImageArgument imageArgument(const py::handle& object, const char* name) {
    ImageArgument argument;
    argument.array = FloatArray::ensure(object);
    if (!argument.array || argument.array.ndim() != 2) {
        PyErr_Clear();
        throw py::value_error(std::string(name) + " must be a 2-D array of numbers");
    }
    argument.height = static_cast<int>(argument.array.shape(0));
    argument.width = static_cast<int>(argument.array.shape(1));
    return argument;
}

FloatArray outputArray(const py::object& out, const std::vector<py::ssize_t>& shape) {
    if (out.is_none()) return FloatArray(shape);
    if (!py::isinstance<py::array>(out)) throw py::value_error("out must be a numpy array");
    py::array given = out.cast<py::array>();
    const bool float32 = given.dtype().is(py::dtype::of<float>());
    const bool contiguous = (given.flags() & py::array::c_style) != 0;
    const bool writable = given.writeable();
    bool sameShape = given.ndim() == static_cast<py::ssize_t>(shape.size());
    for (size_t axis = 0; sameShape && axis < shape.size(); ++axis)
        sameShape = given.shape(axis) == shape[axis];
    if (!float32 || !contiguous || !writable || !sameShape)
        throw py::value_error(
            "out must be a writable C-contiguous float32 array of the result's shape");
    return FloatArray::ensure(given);
}

}  // namespace native
}  // namespace Quarvel
