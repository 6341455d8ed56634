// Chunk compression of MCAP files: none, zstd or lz4 (frame format), as the format names them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Quarvel {
namespace mcap {

enum class Compression { NONE, ZSTD, LZ4 };

// The name a chunk record carries: "", "zstd" or "lz4".
const char* compressionName(Compression compression);
// Whether this build can write (and read) chunks compressed this way.
bool compressionAvailable(Compression compression);
// zstd where this build has it, else lz4, else none.
Compression defaultCompression();

// Compresses `size` bytes into `out` (replaced). False when the codec is missing or fails.
bool compress(Compression compression, const uint8_t* data, size_t size, std::vector<uint8_t>& out);

// Decompresses a chunk whose records are `expected` bytes once expanded. Returns the bytes
// recovered into `out` (resized to them): all of them for a whole chunk, the leading part
// that survived for a chunk cut short. `error` names a codec this build lacks or a stream
// that is not what its name says.
size_t decompress(const std::string& name, const uint8_t* data, size_t size, size_t expected,
                  std::vector<uint8_t>& out, std::string& error);

}  // namespace mcap
}  // namespace Quarvel
