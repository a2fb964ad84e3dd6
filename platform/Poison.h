#pragma once

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

// For memory that a pool of our own hands out and takes back: what no one
// holds is kept poisoned, so that the sanitizer build catches a use of it as
// it would for blocks of the heap's own. Nothing in other builds.

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPoisoning = true;
#else
constexpr bool kPoisoning = false;
#endif

inline void Poison([[maybe_unused]] const void *p, [[maybe_unused]] size_t size)
{
#if defined(__SANITIZE_ADDRESS__)
    ASAN_POISON_MEMORY_REGION(p, size);
#endif
}

inline void Unpoison([[maybe_unused]] const void *p, [[maybe_unused]] size_t size)
{
#if defined(__SANITIZE_ADDRESS__)
    ASAN_UNPOISON_MEMORY_REGION(p, size);
#endif
}
