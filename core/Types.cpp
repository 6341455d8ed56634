// Texts of the result codes.
#include "core/Types.h"

namespace Quarvel {

const char* to_str(TofErrorCode code) {
    switch (code) {
        case QuarvelSuccess: return "Success";
        case QuarvelInvalidParameter: return "Invalid parameter";
        case QuarvelNoCache: return "No cache";
        case QuarvelUnkownDevice: return "Unkown device";  // the published text keeps this spelling
        case QuarvelNotImplemented: return "Not implemented";
        case QuarvelSkipFrame: return "Skip frame";
        case QuarvelSystemError: return "System error";
        default: return "Unknown error";
    }
}

}  // namespace Quarvel
