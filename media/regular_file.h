#pragma once

#include <cstdio>

namespace flowloom {

// Opens `path` for binary reading when it names a regular file, and measures its length
// in bytes. Anything else (a named pipe, a device, a directory) is refused without
// blocking: the path is opened non-blocking and looked at before anything is read.
// Returns null when the path cannot be opened, is no regular file, or cannot be measured;
// the stream is left at its start.
std::FILE* OpenRegularFile(const char* path, long& length);

}  // namespace flowloom
