// Registration of each binding area of the geometry extension.
#pragma once

#include <pybind11/pybind11.h>

namespace Quarvel {
namespace native {

void registerIntrinsics(pybind11::module_& module);
void registerPointCloud(pybind11::module_& module);
void registerFilters(pybind11::module_& module);
void registerCsiProbe(pybind11::module_& module);

}  // namespace native
}  // namespace Quarvel
