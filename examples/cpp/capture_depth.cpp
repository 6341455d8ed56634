// Captures depth frames through the installed library and prints what each one shows.
//
//   capture_depth [--connect csi|usb] [--index N] [--config FILE] [--frames N]
//
// USB camera 0 is the built-in simulated camera when no real one is present.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/QuarvelTOFCamera.h"

namespace {

struct Options {
    Quarvel::Connection connect = Quarvel::Connection::USB;
    int index = 0;
    std::string config;
    int frames = 30;
};

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc) return false;
        const char* value = argv[++i];
        if (name == "--connect" && std::strcmp(value, "csi") == 0) {
            options.connect = Quarvel::Connection::CSI;
        } else if (name == "--connect" && std::strcmp(value, "usb") == 0) {
            options.connect = Quarvel::Connection::USB;
        } else if (name == "--index") {
            options.index = std::atoi(value);
        } else if (name == "--config") {
            options.config = value;
        } else if (name == "--frames") {
            options.frames = std::atoi(value);
        } else {
            return false;
        }
    }
    return options.frames > 0;
}

// Median depth of the pixels with a positive depth in a 5x5 window at the centre.
float centreDistance(const float* depth, uint32_t width, uint32_t height) {
    std::vector<float> window;
    const int64_t rows = height;
    const int64_t columns = width;
    for (int64_t row = std::max<int64_t>(rows / 2 - 2, 0); row <= rows / 2 + 2 && row < rows;
         ++row) {
        for (int64_t column = std::max<int64_t>(columns / 2 - 2, 0);
             column <= columns / 2 + 2 && column < columns; ++column) {
            const float value = depth[static_cast<size_t>(row * columns + column)];
            if (std::isfinite(value) && value > 0.0f) window.push_back(value);
        }
    }
    if (window.empty()) return NAN;
    std::nth_element(window.begin(), window.begin() + window.size() / 2, window.end());
    return window[window.size() / 2];
}

int fail(const char* what, int status) {
    std::fprintf(stderr, "capture_depth: %s failed: %s (code %d)\n", what,
                 Quarvel::to_str(static_cast<Quarvel::TofErrorCode>(status)), status);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: capture_depth [--connect csi|usb] [--index N] [--config FILE] "
                     "[--frames N]\n");
        return 2;
    }

    Quarvel::QuarvelTOFCamera camera;
    int status = options.config.empty()
                     ? camera.open(options.connect, options.index)
                     : camera.openWithFile(options.config.c_str(), options.index);
    if (status != Quarvel::QuarvelSuccess) return fail("open", status);
    status = camera.start(Quarvel::FrameType::DEPTH);
    if (status != Quarvel::QuarvelSuccess) {
        camera.close();
        return fail("start", status);
    }

    int delivered = 0;
    for (; delivered < options.frames; ++delivered) {
        Quarvel::QuarvelFrameBuffer* frame = camera.requestFrame(2000);
        if (frame == nullptr) break;
        Quarvel::FrameDataFormat format{};
        frame->getFormat(Quarvel::FrameType::DEPTH, format);
        const auto* depth = static_cast<const float*>(frame->getData(Quarvel::FrameType::DEPTH));
        std::printf("frame %3d  %ux%u  time %llu  centre %.1f mm\n", delivered + 1, format.width,
                    format.height, static_cast<unsigned long long>(format.timestamp),
                    centreDistance(depth, format.width, format.height));
        camera.releaseFrame(frame);
    }
    camera.stop();
    camera.close();

    if (delivered < options.frames) {
        std::fprintf(stderr, "capture_depth: no frame within 2000 ms after %d frames\n", delivered);
        return 1;
    }
    std::printf("captured %d depth frames\n", delivered);
    return 0;
}
