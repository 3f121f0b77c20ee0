#include "media/regular_file.h"

#include <sys/stat.h>

namespace flowloom {

std::FILE* OpenRegularFile(const char* path, long& length) {
    length = -1;
    std::FILE* file = path ? std::fopen(path, "rb") : nullptr;
    if (!file) return nullptr;
    struct stat status;
    if (fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode) || std::fseek(file, 0, SEEK_END) != 0 ||
        (length = std::ftell(file)) < 0 || std::fseek(file, 0, SEEK_SET) != 0) {
        std::fclose(file);
        length = -1;
        return nullptr;
    }
    return file;
}

}  // namespace flowloom
