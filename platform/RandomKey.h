// Unguessable keys: 128 bits from the kernel's random source, as 32 lower-case hex digits. Used where a
// message must prove that it comes from code the program itself put in place (a script it injected),
// not from a page that happens to reach the same channel.
//
// Threads: any.
#pragma once

#include <string>

namespace platform {

std::string RandomKey();

}  // namespace platform
