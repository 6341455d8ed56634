// Reader of the algorithm configuration text: tolerant, bounded, never throws.
#include "sdk/phase/src/AlgorithmConfig.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace si4c {

namespace {

constexpr int kMaxLevel = 9;
constexpr double kMaxDistanceMm = 100000.0;

struct IntKey {
    const char* name;
    int AlgorithmParams::*field;
    int min;
    int max;
};

const IntKey kIntKeys[] = {
    {"TDenoiseLevel_Depth", &AlgorithmParams::temporalDepthLevel, 0, kMaxLevel},
    {"SDenoiseLevel_Depth", &AlgorithmParams::spatialDepthLevel, 0, kMaxLevel},
    {"TDenoiseMethod_Depth", &AlgorithmParams::temporalDepthMethod, 0, 1},
    {"SDenoiseMethod_Depth", &AlgorithmParams::spatialDepthMethod, 0, 1},
    {"TDenoiseLevel_Gray", &AlgorithmParams::temporalGrayLevel, 0, kMaxLevel},
    {"SDenoiseLevel_Gray", &AlgorithmParams::spatialGrayLevel, 0, kMaxLevel},
    {"TDenoiseMethod_Gray", &AlgorithmParams::temporalGrayMethod, 0, 1},
    {"SDenoiseMethod_Gray", &AlgorithmParams::spatialGrayMethod, 0, 1},
    {"ERDOLvl", &AlgorithmParams::repairLevel, 0, kMaxLevel},
};

struct FloatKey {
    const char* name;
    float AlgorithmParams::*field;
    double min;
    double max;
};

const FloatKey kFloatKeys[] = {
    {"ValidDistMin", &AlgorithmParams::validDistMinMm, 0.0, kMaxDistanceMm},
    {"ValidDistMax", &AlgorithmParams::validDistMaxMm, 0.0, kMaxDistanceMm},
    {"ConfidenceThreshold", &AlgorithmParams::confidenceThreshold, 0.0, 1.0},
};

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// [begin, end) without surrounding blanks.
void trim(const char*& begin, const char*& end) {
    while (begin < end && isBlank(*begin)) ++begin;
    while (end > begin && isBlank(end[-1])) --end;
}

bool parseInteger(const std::string& text, int min, int max, int& out) {
    if (text.empty()) return false;
    errno = 0;
    char* stop = nullptr;
    const long value = std::strtol(text.c_str(), &stop, 10);
    if (errno != 0 || stop != text.c_str() + text.size()) return false;
    if (value < min || value > max) return false;
    out = static_cast<int>(value);
    return true;
}

bool parseNumber(const std::string& text, double min, double max, float& out) {
    if (text.empty()) return false;
    errno = 0;
    char* stop = nullptr;
    const double value = std::strtod(text.c_str(), &stop);
    if (errno != 0 || stop != text.c_str() + text.size()) return false;
    if (!std::isfinite(value) || value < min || value > max) return false;
    out = static_cast<float>(value);
    return true;
}

void applyEntry(const std::string& key, const std::string& value, AlgorithmParams& params) {
    for (const IntKey& entry : kIntKeys) {
        if (key == entry.name) {
            parseInteger(value, entry.min, entry.max, params.*entry.field);
            return;
        }
    }
    for (const FloatKey& entry : kFloatKeys) {
        if (key == entry.name) {
            parseNumber(value, entry.min, entry.max, params.*entry.field);
            return;
        }
    }
}

void applyLine(const char* begin, const char* end, AlgorithmParams& params) {
    trim(begin, end);
    if (begin == end) return;
    if (*begin == '[' || *begin == '#' || *begin == ';') return;
    if (end - begin >= 2 && begin[0] == '/' && begin[1] == '/') return;
    const char* equals = static_cast<const char*>(std::memchr(begin, '=', end - begin));
    if (equals == nullptr) return;
    const char* keyEnd = equals;
    const char* valueBegin = equals + 1;
    trim(begin, keyEnd);
    trim(valueBegin, end);
    applyEntry(std::string(begin, keyEnd), std::string(valueBegin, end), params);
}

}  // namespace

void applyAlgorithmText(const char* text, size_t length, AlgorithmParams& params) {
    if (text == nullptr) return;
    const char* cursor = text;
    const char* const end = text + length;
    while (cursor < end) {
        const char* lineEnd = static_cast<const char*>(std::memchr(cursor, '\n', end - cursor));
        if (lineEnd == nullptr) lineEnd = end;
        applyLine(cursor, lineEnd, params);
        cursor = lineEnd < end ? lineEnd + 1 : end;
    }
    if (params.validDistMinMm > params.validDistMaxMm) {
        const AlgorithmParams defaults;
        params.validDistMinMm = defaults.validDistMinMm;
        params.validDistMaxMm = defaults.validDistMaxMm;
    }
}

bool applyAlgorithmFile(const std::string& path, AlgorithmParams& params) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) return false;
    // One byte more than allowed tells a file at the limit from a larger one.
    std::vector<char> text(kMaxConfigBytes + 1);
    const size_t length = std::fread(text.data(), 1, text.size(), file.get());
    if (std::ferror(file.get()) != 0 || length > kMaxConfigBytes) return false;
    applyAlgorithmText(text.data(), length, params);
    return true;
}

}  // namespace si4c
