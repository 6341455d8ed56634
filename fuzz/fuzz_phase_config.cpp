// The phase library's algorithm configuration text ("ConfigAlgorithm.json" and the files of
// a configuration directory): whatever it holds, every parameter stays in its range.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <string>

#include "fuzz/support/FuzzCheck.h"
#include "sdk/phase/src/AlgorithmConfig.h"

using namespace si4c;

namespace {

void checkRanges(const AlgorithmParams& params) {
    for (int level : {params.temporalDepthLevel, params.spatialDepthLevel, params.temporalGrayLevel,
                      params.spatialGrayLevel, params.repairLevel}) {
        FUZZ_CHECK(level >= 0 && level <= 9);
    }
    for (int method : {params.temporalDepthMethod, params.spatialDepthMethod,
                       params.temporalGrayMethod, params.spatialGrayMethod}) {
        FUZZ_CHECK(method == 0 || method == 1);
    }
    FUZZ_CHECK(std::isfinite(params.validDistMinMm) && std::isfinite(params.validDistMaxMm));
    FUZZ_CHECK(params.validDistMinMm >= 0.0f && params.validDistMaxMm <= 100000.0f);
    FUZZ_CHECK(params.validDistMinMm <= params.validDistMaxMm);
    FUZZ_CHECK(params.confidenceThreshold >= 0.0f && params.confidenceThreshold <= 1.0f);
}

bool sameParams(const AlgorithmParams& a, const AlgorithmParams& b) {
    return a.temporalDepthLevel == b.temporalDepthLevel &&
           a.spatialDepthLevel == b.spatialDepthLevel &&
           a.temporalDepthMethod == b.temporalDepthMethod &&
           a.spatialDepthMethod == b.spatialDepthMethod &&
           a.temporalGrayLevel == b.temporalGrayLevel && a.spatialGrayLevel == b.spatialGrayLevel &&
           a.temporalGrayMethod == b.temporalGrayMethod &&
           a.spatialGrayMethod == b.spatialGrayMethod && a.repairLevel == b.repairLevel &&
           a.validDistMinMm == b.validDistMinMm && a.validDistMaxMm == b.validDistMaxMm &&
           a.confidenceThreshold == b.confidenceThreshold;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // libFuzzer's own buffer holds exactly the text's bytes, without a terminating NUL:
    // nothing may read past them.
    const char* text = size > 0 ? reinterpret_cast<const char*>(data) : nullptr;

    AlgorithmParams once;
    applyAlgorithmText(text, size, once);
    checkRanges(once);
    // Keys overlay: the same text applied again changes nothing more.
    AlgorithmParams twice = once;
    applyAlgorithmText(text, size, twice);
    FUZZ_CHECK(sameParams(once, twice));
    // Lines are independent of the line ending used.
    std::string crlf;
    for (size_t i = 0; i < size; ++i) {
        if (text[i] == '\n') crlf += '\r';
        crlf += text[i];
    }
    AlgorithmParams fromCrlf;
    applyAlgorithmText(crlf.data(), crlf.size(), fromCrlf);
    FUZZ_CHECK(sameParams(once, fromCrlf));
    return 0;
}
