// Paths a user hands in, over a scratch tree holding every kind of entry: the reader and the
// description loader answer at once (a FIFO never blocks them), never read beyond their
// limit, and agree with the kind checks.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/UserFiles.h"
#include "fuzz/support/FuzzCheck.h"
#include "sim/scene/SimulatedCameraConfig.h"

using namespace Quarvel;

namespace {

// The scratch tree, made once per process under the working directory (fuzz.sh runs each
// target in a scratch directory of its own).
const std::string& sandbox() {
    static const std::string root = [] {
        char pattern[] = "user-paths-XXXXXX";
        std::string made = ::mkdtemp(pattern) ? pattern : ".";
        auto file = [&](const char* name, const std::string& text) {
            FILE* out = std::fopen((made + "/" + name).c_str(), "wb");
            if (out) {
                std::fwrite(text.data(), 1, text.size(), out);
                std::fclose(out);
            }
        };
        file("description", "sensor = vga\nfps = 20\n");
        file("empty", "");
        file("large", std::string(70 * 1024, '#'));
        ::mkfifo((made + "/fifo").c_str(), 0600);
        ::mkdir((made + "/dir").c_str(), 0755);
        file("dir/description", "scene = wall\n");
        ::symlink("description", (made + "/link").c_str());
        ::symlink("loop", (made + "/loop").c_str());
        ::symlink("nowhere", (made + "/dangling").c_str());
        ::symlink("/dev/zero", (made + "/device").c_str());
        return made;
    }();
    return root;
}

const char* const kEntries[] = {"description", "empty", "large",  "fifo",     "dir",
                                "link",        "loop",  "device", "dangling", "."};

// A path inside the sandbox: known entries, ".." that never climbs out, doubled slashes and
// names of arbitrary bytes (not UTF-8, very long).
std::string buildPath(FuzzedDataProvider& data) {
    std::string path = sandbox();
    int depth = 0;
    const int components = data.ConsumeIntegralInRange<int>(0, 8);
    for (int i = 0; i < components; ++i) {
        path += data.ConsumeBool() ? "//" : "/";
        switch (data.ConsumeIntegralInRange<int>(0, 3)) {
            case 0:
                if (depth > 0) {
                    path += "..";
                    --depth;
                    break;
                }
                [[fallthrough]];
            case 1:
                path += data.PickValueInArray(kEntries);
                if (path.compare(path.size() - 3, 3, "dir") == 0) ++depth;
                break;
            default: {
                std::string name = data.ConsumeRandomLengthString(400);
                for (char& c : name) {
                    if (c == '/' || c == '\0') c = '_';
                }
                if (name.empty() || name == "." || name == "..") name = "x";
                path += name;
            }
        }
    }
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    FuzzedDataProvider data(bytes, size);
    const size_t limit = data.ConsumeIntegralInRange<size_t>(0, 80 * 1024);
    const std::string path = buildPath(data);

    std::string content = "stale";
    struct stat identity {};
    const UserPathStatus read = readUserFile(path.c_str(), limit, content, &identity);
    const UserPathStatus kind = checkUserFile(path.c_str());
    if (read == UserPathStatus::Ok) {
        FUZZ_CHECK(kind == UserPathStatus::Ok);
        FUZZ_CHECK(content.size() <= limit);
        FUZZ_CHECK(static_cast<size_t>(identity.st_size) == content.size());
    } else {
        FUZZ_CHECK(content.empty());
        if (kind == UserPathStatus::Ok) FUZZ_CHECK(read == UserPathStatus::TooLarge);
    }
    if (path.size() > kMaxUserPathBytes) FUZZ_CHECK(read == UserPathStatus::TooLong);
    const UserPathStatus directory = checkUserDirectory(path.c_str());
    FUZZ_CHECK(!(directory == UserPathStatus::Ok && kind == UserPathStatus::Ok));

    sim::SimulatedCameraConfig config;
    std::string error;
    const bool loaded = sim::SimulatedCameraConfig::load(path, config, error);
    if (kind != UserPathStatus::Ok) FUZZ_CHECK(!loaded && !error.empty());
    // The message shows the path escaped and cut: printable bytes only, bounded length.
    for (char c : error) FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 || c == '\t');
    FUZZ_CHECK(error.size() < 1024);
    return 0;
}
