#include "media/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace flowloom {

std::FILE* OpenRegularFile(const char* path, long& length) {
    length = -1;
    if (!path) return nullptr;
    // Without O_NONBLOCK, opening a named pipe waits for a writer that may never come; a
    // device may block as well. Open without waiting, look at what it is, then read.
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat status;
    std::FILE* file = nullptr;
    if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
        const int flags = fcntl(fd, F_GETFL);
        if (flags != -1 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0) file = fdopen(fd, "rb");
    }
    if (!file) {
        close(fd);
        return nullptr;
    }
    if (std::fseek(file, 0, SEEK_END) != 0 || (length = std::ftell(file)) < 0 || std::fseek(file, 0, SEEK_SET) != 0) {
        std::fclose(file);
        length = -1;
        return nullptr;
    }
    return file;
}

}  // namespace flowloom
