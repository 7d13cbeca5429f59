#include "platform/RandomKey.h"

#include <sys/random.h>

#include <cstdio>
#include <cstdlib>

namespace platform {

std::string RandomKey() {
    unsigned char bytes[16] = {};
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        // getrandom only fails before the kernel's pool is ready or on a kernel without it; a key
        // that could be guessed is worse than not starting.
        if (n < 0) {
            std::perror("Sinjo: getrandom");
            std::abort();
        }
        got += static_cast<size_t>(n);
    }
    std::string key;
    char hex[3];
    for (unsigned char b : bytes) {
        std::snprintf(hex, sizeof hex, "%02x", b);
        key += hex;
    }
    return key;
}

}  // namespace platform
