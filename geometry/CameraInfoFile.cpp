// A reader for the few camera_info keys the geometry needs; not a general YAML parser.
#include "geometry/CameraInfoFile.h"

#include "core/UserFiles.h"

#include <cstdlib>
#include <sstream>
#include <vector>

namespace Quarvel {

namespace {

std::string withoutComments(const std::string& text) {
    std::string result;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        result += line.substr(0, line.find('#'));
        result += '\n';
    }
    return result;
}

// Position just after "key:" where the key starts a line (indentation allowed), or npos.
size_t findKey(const std::string& text, const std::string& key, size_t from = 0) {
    const std::string wanted = key + ":";
    for (size_t at = text.find(wanted, from); at != std::string::npos;
         at = text.find(wanted, at + 1)) {
        size_t start = at;
        while (start > 0 && (text[start - 1] == ' ' || text[start - 1] == '\t')) --start;
        if (start == 0 || text[start - 1] == '\n') return at + wanted.size();
    }
    return std::string::npos;
}

std::string scalarAfter(const std::string& text, size_t at) {
    const size_t end = text.find('\n', at);
    std::string value = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    const size_t first = value.find_first_not_of(" \t\"'");
    const size_t last = value.find_last_not_of(" \t\r\"'");
    return first == std::string::npos ? std::string() : value.substr(first, last - first + 1);
}

bool parseInteger(const std::string& text, int& out) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value <= 0 || value > 100000) return false;
    out = static_cast<int>(value);
    return true;
}

// The numbers of "data: [a, b, ...]" inside the block of `key` (the list may span lines).
bool dataOf(const std::string& text, const std::string& key, std::vector<double>& values) {
    const size_t block = findKey(text, key);
    if (block == std::string::npos) return false;
    const size_t data = findKey(text, "data", block);
    if (data == std::string::npos) return false;
    const size_t open = text.find('[', data);
    const size_t close = text.find(']', data);
    if (open == std::string::npos || close == std::string::npos || close < open) return false;
    std::string list = text.substr(open + 1, close - open - 1);
    for (char& c : list) {
        if (c == ',' || c == '\n' || c == '\r' || c == '\t') c = ' ';
    }
    std::istringstream numbers(list);
    std::string token;
    values.clear();
    while (numbers >> token) {
        char* end = nullptr;
        const double value = std::strtod(token.c_str(), &end);
        if (*end != '\0') return false;
        values.push_back(value);
    }
    return true;
}

}  // namespace

int parseCameraInfo(const std::string& rawText, Intrinsics& out, std::string& error) {
    const std::string text = withoutComments(rawText);
    Intrinsics parsed;
    const size_t widthAt = findKey(text, "image_width");
    const size_t heightAt = findKey(text, "image_height");
    if (widthAt == std::string::npos || heightAt == std::string::npos ||
        !parseInteger(scalarAfter(text, widthAt), parsed.width) ||
        !parseInteger(scalarAfter(text, heightAt), parsed.height)) {
        error = "image_width and image_height must be positive integers";
        return -1;
    }
    std::vector<double> matrix;
    if (!dataOf(text, "camera_matrix", matrix) || matrix.size() != 9) {
        error = "camera_matrix must hold data: [9 numbers]";
        return -1;
    }
    parsed.fx = matrix[0];
    parsed.cx = matrix[2];
    parsed.fy = matrix[4];
    parsed.cy = matrix[5];
    const size_t modelAt = findKey(text, "distortion_model");
    if (modelAt != std::string::npos && scalarAfter(text, modelAt) != "plumb_bob") {
        error = "distortion_model must be plumb_bob, got '" + scalarAfter(text, modelAt) + "'";
        return -1;
    }
    std::vector<double> coefficients;
    if (findKey(text, "distortion_coefficients") != std::string::npos) {
        if (!dataOf(text, "distortion_coefficients", coefficients) ||
            (coefficients.size() != 4 && coefficients.size() != 5)) {
            error = "distortion_coefficients must hold data: [k1, k2, p1, p2] or [.., k3]";
            return -1;
        }
        parsed.distortion.k1 = coefficients[0];
        parsed.distortion.k2 = coefficients[1];
        parsed.distortion.p1 = coefficients[2];
        parsed.distortion.p2 = coefficients[3];
        if (coefficients.size() == 5) parsed.distortion.k3 = coefficients[4];
    }
    if (!parsed.valid()) {
        error = "camera_matrix needs positive, finite focal lengths";
        return -1;
    }
    out = parsed;
    return 0;
}

int readCameraInfo(const std::string& path, Intrinsics& out, std::string& error) {
    // A user-named file: a FIFO, a device or a huge file is refused without a wait.
    std::string content;
    const UserPathStatus status = readUserFile(path.c_str(), kMaxCameraInfoBytes, content);
    if (status != UserPathStatus::Ok) {
        error = "cannot read '" + path + "': " + describe(status);
        return -1;
    }
    std::string reason;
    if (parseCameraInfo(content, out, reason) != 0) {
        error = path + ": " + reason;
        return -1;
    }
    return 0;
}

int resolveIntrinsics(const std::string& calibrationPath, int width, int height, Intrinsics& out,
                      std::string& error) {
    if (calibrationPath.empty()) {
        out = Intrinsics::nominal(width, height);
        return 0;
    }
    Intrinsics fromFile;
    if (readCameraInfo(calibrationPath, fromFile, error) != 0) return -1;
    if (fromFile.width != width || fromFile.height != height) {
        error = calibrationPath + ": calibrated for " + std::to_string(fromFile.width) + "x" +
                std::to_string(fromFile.height) + ", the sensor gives " + std::to_string(width) +
                "x" + std::to_string(height);
        return -1;
    }
    out = fromFile;
    return 0;
}

}  // namespace Quarvel
