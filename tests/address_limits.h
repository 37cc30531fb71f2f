// Tests that run code under an address-space limit (RLIMIT_AS) check PFAD_HUGE_RESERVATIONS
// first: a sanitizer that reserves terabytes of shadow memory up front cannot run under one.
#pragma once

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define PFAD_HUGE_RESERVATIONS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define PFAD_HUGE_RESERVATIONS 1
#endif
#endif
