// Checks and bounded reads of the files and directories a user names.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <string>

namespace Quarvel {

// What is wrong with a path a user handed in; Ok when nothing is.
enum class UserPathStatus {
    Ok,
    Empty,           // no text at all
    TooLong,         // longer than kMaxUserPathBytes
    Missing,         // nothing by that name (or a component is not a directory)
    NotRegularFile,  // a directory, FIFO, socket or device where a file is expected
    NotDirectory,    // something else where a directory is expected
    TooLarge,        // a file beyond the reader's limit
    Unreadable,      // permission, I/O error, a file that shrank while read, a link loop
};

// One short English phrase per status, for messages and Python exceptions.
const char* describe(UserPathStatus status);

// Longest path accepted, in bytes without the terminating NUL (PATH_MAX less the NUL).
constexpr size_t kMaxUserPathBytes = 4095;

// Length and kind of `path` (links followed), without opening it: a name that can be
// opened without blocking. `path` may be null (Empty). Thread-safe.
UserPathStatus checkUserDirectory(const char* path);
UserPathStatus checkUserFile(const char* path);

// Reads the whole regular file at `path` into `content` (at most `maxBytes`). The file is
// opened non-blocking and checked through its descriptor before anything is read, so a
// FIFO, a device or a directory is refused without a wait, and a file replaced between
// the check and the read cannot slip through. A file that grows while read is cut at its
// checked size; one that shrinks is Unreadable. `identity` (optional) receives the
// checked status. On failure `content` is left empty. Thread-safe.
UserPathStatus readUserFile(const char* path, size_t maxBytes, std::string& content,
                            struct stat* identity = nullptr);

}  // namespace Quarvel
