// zstd and lz4 through Debian's libzstd and liblz4, each optional at build time.
#include "recording/McapCompression.h"

#include <cstring>
#include <memory>

#ifdef QUARVEL_HAVE_ZSTD
#include <zstd.h>
#endif
#ifdef QUARVEL_HAVE_LZ4
#include <lz4frame.h>
#endif

namespace Quarvel {
namespace mcap {

const char* compressionName(Compression compression) {
    switch (compression) {
        case Compression::ZSTD:
            return "zstd";
        case Compression::LZ4:
            return "lz4";
        default:
            return "";
    }
}

bool compressionAvailable(Compression compression) {
    switch (compression) {
        case Compression::NONE:
            return true;
#ifdef QUARVEL_HAVE_ZSTD
        case Compression::ZSTD:
            return true;
#endif
#ifdef QUARVEL_HAVE_LZ4
        case Compression::LZ4:
            return true;
#endif
        default:
            return false;
    }
}

Compression defaultCompression() {
    if (compressionAvailable(Compression::ZSTD)) return Compression::ZSTD;
    if (compressionAvailable(Compression::LZ4)) return Compression::LZ4;
    return Compression::NONE;
}

bool compress(Compression compression, const uint8_t* data, size_t size,
              std::vector<uint8_t>& out) {
    switch (compression) {
        case Compression::NONE:
            out.assign(data, data + size);
            return true;
#ifdef QUARVEL_HAVE_ZSTD
        case Compression::ZSTD: {
            out.resize(ZSTD_compressBound(size));
            // Level 1: a recording must keep up with the camera on a small board.
            const size_t written = ZSTD_compress(out.data(), out.size(), data, size, 1);
            if (ZSTD_isError(written)) return false;
            out.resize(written);
            return true;
        }
#endif
#ifdef QUARVEL_HAVE_LZ4
        case Compression::LZ4: {
            LZ4F_preferences_t preferences;
            std::memset(&preferences, 0, sizeof preferences);
            preferences.frameInfo.contentSize = size;
            out.resize(LZ4F_compressFrameBound(size, &preferences));
            const size_t written =
                LZ4F_compressFrame(out.data(), out.size(), data, size, &preferences);
            if (LZ4F_isError(written)) return false;
            out.resize(written);
            return true;
        }
#endif
        default:
            return false;
    }
}

namespace {
#ifdef QUARVEL_HAVE_ZSTD
size_t zstdStream(const uint8_t* data, size_t size, std::vector<uint8_t>& out, std::string& error) {
    std::unique_ptr<ZSTD_DStream, size_t (*)(ZSTD_DStream*)> stream(ZSTD_createDStream(),
                                                                    ZSTD_freeDStream);
    if (!stream) {
        error = "out of memory for zstd";
        return 0;
    }
    ZSTD_inBuffer in{data, size, 0};
    ZSTD_outBuffer target{out.data(), out.size(), 0};
    while (in.pos < in.size && target.pos < target.size) {
        const size_t result = ZSTD_decompressStream(stream.get(), &target, &in);
        if (ZSTD_isError(result)) {
            error = std::string("zstd: ") + ZSTD_getErrorName(result);
            break;
        }
        if (result == 0) break;  // frame complete
    }
    // A frame that goes on past the stated size is as wrong as one that stops short.
    if (error.empty() && target.pos == target.size && in.pos < in.size) {
        uint8_t extra = 0;
        ZSTD_outBuffer more{&extra, 1, 0};
        const size_t result = ZSTD_decompressStream(stream.get(), &more, &in);
        if (!ZSTD_isError(result) && more.pos > 0) error = "zstd: more data than stated";
    }
    return target.pos;
}
#endif

#ifdef QUARVEL_HAVE_LZ4
size_t lz4Stream(const uint8_t* data, size_t size, std::vector<uint8_t>& out, std::string& error) {
    LZ4F_dctx* raw = nullptr;
    if (LZ4F_isError(LZ4F_createDecompressionContext(&raw, LZ4F_VERSION))) {
        error = "out of memory for lz4";
        return 0;
    }
    std::unique_ptr<LZ4F_dctx, LZ4F_errorCode_t (*)(LZ4F_dctx*)> context(
        raw, LZ4F_freeDecompressionContext);
    size_t inPos = 0, outPos = 0;
    while (inPos < size && outPos < out.size()) {
        size_t inSize = size - inPos;
        size_t outSize = out.size() - outPos;
        const size_t hint = LZ4F_decompress(context.get(), out.data() + outPos, &outSize,
                                            data + inPos, &inSize, nullptr);
        if (LZ4F_isError(hint)) {
            error = std::string("lz4: ") + LZ4F_getErrorName(hint);
            break;
        }
        inPos += inSize;
        outPos += outSize;
        if (hint == 0) break;                    // frame complete
        if (inSize == 0 && outSize == 0) break;  // no progress: input cut short
    }
    return outPos;
}
#endif
}  // namespace

size_t decompress(const std::string& name, const uint8_t* data, size_t size, size_t expected,
                  std::vector<uint8_t>& out, std::string& error) {
    error.clear();
    if (name.empty()) {
        const size_t kept = size < expected ? size : expected;
        out.assign(data, data + kept);
        if (size > expected) error = "chunk holds more data than stated";
        return kept;
    }
    out.resize(expected);
    size_t recovered = 0;
#ifdef QUARVEL_HAVE_ZSTD
    if (name == "zstd") {
        recovered = zstdStream(data, size, out, error);
        out.resize(recovered);
        return recovered;
    }
#endif
#ifdef QUARVEL_HAVE_LZ4
    if (name == "lz4") {
        recovered = lz4Stream(data, size, out, error);
        out.resize(recovered);
        return recovered;
    }
#endif
    out.clear();
    error = "compression '" + name.substr(0, 32) + "' is not supported by this build";
    return recovered;
}

}  // namespace mcap
}  // namespace Quarvel
