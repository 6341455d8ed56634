// The MCAP reader on any bytes (a recording cut short, damaged on disk or not one at all):
// it answers with messages, an end or an error, never reads outside what it was given,
// never hands out a message larger than its record limit, and always comes to an end.
// Seeds: small recordings in every compression, whole and cut
// (`quarvel_mcap_interop seeds fuzz/corpus/fuzz_mcap_reader`).
#include <cstddef>
#include <cstdint>

#include "fuzz/support/FuzzCheck.h"
#include "recording/McapReader.h"

using namespace Quarvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr uint64_t kLimit = 1u << 22;
    mcap::Reader reader(kLimit);
    if (reader.openMemory(data, size) != 0) {
        FUZZ_CHECK(!reader.error().empty());
        return 0;
    }
    mcap::Message message;
    size_t messages = 0;
    int result;
    // Every message record takes at least its prefix and header from the input or from an
    // expanded chunk; a chunk expands to at most the limit.
    while ((result = reader.next(message)) == 1) {
        FUZZ_CHECK(message.size <= kLimit);
        FUZZ_CHECK(reader.channels().count(message.channelId) == 1);
        ++messages;
    }
    FUZZ_CHECK(result == 0 || result == -1);
    FUZZ_CHECK((result == -1) == !reader.error().empty());
    // The end stays the end.
    FUZZ_CHECK(reader.next(message) == result);
    reader.rewind();
    size_t again = 0;
    while (reader.next(message) == 1) ++again;
    FUZZ_CHECK(again == messages);

    mcap::Statistics statistics;
    uint32_t chunkIndexes = 0;
    reader.readSummary(statistics, chunkIndexes);
    return 0;
}
