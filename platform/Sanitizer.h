// What the build instruments, for code whose fast paths would hide faults from a sanitizer or that works
// on the C library's allocator, which the sanitizers replace. The song loader, for one, refills the records
// of the catalogue it replaces instead of freeing them, which would keep AddressSanitizer from reporting a
// song pointer kept across a reload; it asks kAddressSanitizer and frees them in such builds.
//
// Threads: constants; any thread.
#pragma once

namespace platform {

#if defined(__has_feature)
#define SINJO_HAS_FEATURE(x) __has_feature(x)
#else
#define SINJO_HAS_FEATURE(x) 0
#endif

#if defined(__SANITIZE_ADDRESS__) || SINJO_HAS_FEATURE(address_sanitizer)
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif

#if defined(__SANITIZE_THREAD__) || SINJO_HAS_FEATURE(thread_sanitizer)
inline constexpr bool kThreadSanitizer = true;
#else
inline constexpr bool kThreadSanitizer = false;
#endif

#undef SINJO_HAS_FEATURE

// Whether a sanitizer has put its own allocator in place of the C library's.
inline constexpr bool kAllocatorReplaced = kAddressSanitizer || kThreadSanitizer;

}  // namespace platform
