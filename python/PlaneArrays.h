// Copies of frame planes as numpy arrays.
#pragma once

#include <pybind11/numpy.h>

#include <cstdint>

#include "core/FrameBuffer.h"

namespace Quarvel {
namespace python {

// A new numpy array of shape (height, width), owning a copy of the plane `plane` of
// `buffer`; height and width come from the buffer's format for `shapeOf`. The array shares
// no memory with the buffer. The first call in the process imports numpy. Throws
// RuntimeError when the buffer has no such plane or format.
pybind11::array_t<int16_t> copyRawPlane(QuarvelFrameBuffer& buffer);
pybind11::array_t<float> copyFloatPlane(QuarvelFrameBuffer& buffer, FrameType plane,
                                        FrameType shapeOf);

}  // namespace python
}  // namespace Quarvel
