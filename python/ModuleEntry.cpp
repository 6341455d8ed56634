// Entry of the QuarvelDepthCamera module: interpreter check and registration order.
#include <pybind11/pybind11.h>

#include "python/Registration.h"

// pybind11's standard entry checks the interpreter version before anything else runs, and
// turns a failed registration into ImportError. numpy is not imported here, so the module
// imports on a system without numpy; the first array creation imports it.
PYBIND11_MODULE(QuarvelDepthCamera, module) {
    Quarvel::python::registerEnums(module);
    Quarvel::python::registerRecords(module);
    Quarvel::python::registerFrames(module);
    Quarvel::python::registerCamera(module);
    module.attr("__version__") = "dev";
}
