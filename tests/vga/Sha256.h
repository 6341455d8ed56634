// SHA-256 of a byte string, for checking written files against digests computed elsewhere.
#pragma once

#include <string>

namespace vga_test {

// Lower-case hexadecimal SHA-256 digest of `bytes` (FIPS 180-4).
std::string sha256Hex(const std::string& bytes);

}  // namespace vga_test
