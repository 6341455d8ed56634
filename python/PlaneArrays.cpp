// Plane to numpy array: allocate an owned array of the plane's shape and copy into it.
#include "python/PlaneArrays.h"

#include <cstring>
#include <stdexcept>

namespace py = pybind11;

namespace Quarvel {
namespace python {

namespace {

template <typename Element>
py::array_t<Element> copyPlane(QuarvelFrameBuffer& buffer, FrameType plane, FrameType shapeOf) {
    FrameDataFormat format{};
    if (buffer.getFormat(shapeOf, format) != 0) {
        throw std::runtime_error("frame has no format for this plane");
    }
    const auto* source = static_cast<const Element*>(buffer.getData(plane));
    const size_t width = format.width;
    const size_t height = format.height;
    // The pool sizes every plane by its format record, so the plane holds exactly
    // width x height elements: that bounds the source as the array bounds the destination.
    const size_t sourceElements = width * height;

    py::array_t<Element> array({height, width});
    const auto destinationElements = static_cast<size_t>(array.size());
    const size_t count =
        sourceElements < destinationElements ? sourceElements : destinationElements;
    if (count == 0) return array;
    if (source == nullptr) throw std::runtime_error("frame has no such plane");
    std::memcpy(array.mutable_data(), source, count * sizeof(Element));
    return array;
}

}  // namespace

py::array_t<int16_t> copyRawPlane(QuarvelFrameBuffer& buffer) {
    return copyPlane<int16_t>(buffer, FrameType::RAW, FrameType::RAW);
}

py::array_t<float> copyFloatPlane(QuarvelFrameBuffer& buffer, FrameType plane, FrameType shapeOf) {
    return copyPlane<float>(buffer, plane, shapeOf);
}

}  // namespace python
}  // namespace Quarvel
