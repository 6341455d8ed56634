// Entry of quarvel._native: the C++ geometry behind the quarvel package.
#include "python/native/NativeRegistration.h"

PYBIND11_MODULE(_native, module) {
    Quarvel::native::registerIntrinsics(module);
    Quarvel::native::registerPointCloud(module);
    Quarvel::native::registerFilters(module);
    Quarvel::native::registerCsiProbe(module);
}
