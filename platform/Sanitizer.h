// What the build instruments, for code whose fast paths would hide faults from a sanitizer. The song
// loader, for one, refills the records of the catalogue it replaces instead of freeing them, which
// would keep AddressSanitizer from reporting a song pointer kept across a reload; it asks
// kAddressSanitizer and frees them in such builds.
//
// Threads: constants; any thread.
#pragma once

namespace platform {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif
#else
inline constexpr bool kAddressSanitizer = false;
#endif

}  // namespace platform
