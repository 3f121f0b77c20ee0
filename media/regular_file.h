#pragma once

#include <cstdio>

namespace flowloom {

// Opens `path` for binary reading when it names a regular file (Linux also opens a
// directory for reading, which then reads as nothing), and measures its length in bytes.
// Returns null when the path cannot be opened, is no regular file, or cannot be measured;
// the stream is left at its start.
std::FILE* OpenRegularFile(const char* path, long& length);

}  // namespace flowloom
