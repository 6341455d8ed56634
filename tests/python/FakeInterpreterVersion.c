/* Reports the interpreter version from QUARVEL_FAKE_PYTHON_VERSION to a module that binds
 * to this library first (loaded with RTLD_DEEPBIND), so that the module's import-time
 * version check can be tried against versions this machine does not have. */
#include <stdlib.h>

const char* Py_GetVersion(void) {
    const char* version = getenv("QUARVEL_FAKE_PYTHON_VERSION");
    return version != NULL ? version : "3.11.0";
}
