#include "media/host.h"

#include <cstdio>

namespace flowloom {

void HeadlessHost::ShowMessage(const char* text) {
    std::fprintf(stderr, "%s\n", text);
}

Host& DefaultHost() {
    static HeadlessHost host;
    return host;
}

}  // namespace flowloom
