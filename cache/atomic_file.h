// Replacing a file so that readers only ever see the old or the new content.
#pragma once

#include <cstddef>
#include <span>

struct ByteRange {
    const void* data;
    size_t size;
};

enum class ReplaceResult {
    Ok,
    CannotCreate,  // no temporary file could be created, or the rename failed
    WriteFailed,   // writing or flushing the temporary file failed
};

// Writes the concatenation of `parts` to a temporary file in the directory of
// `path`, flushes it to disk and renames it over `path`. On any failure the
// temporary file is removed and `path` is left as it was. The new file gets
// mode 0666 minus the umask, like a file created with fopen. Prints nothing.
ReplaceResult replace_file(const char* path, std::span<const ByteRange> parts);
