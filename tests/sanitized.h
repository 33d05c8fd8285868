// WEX_SANITIZED is defined in builds with AddressSanitizer or
// ThreadSanitizer, whose own memory (and LeakSanitizer's use of ptrace)
// hides what a measured program uses: memory tests skip there.
#pragma once

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define WEX_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define WEX_SANITIZED 1
#endif
#endif
