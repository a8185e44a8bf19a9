#pragma once

// Display servers leave the padding byte of 32-bit pixels without alpha at 0, and Qt's
// opaque formats want 0xff there or some paint paths treat the pixel as transparent.

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Copies `pixels` 32-bit pixels with their top byte set (`unused`: the bits to set, the top
// two for a 10-bit format); `source` may be `target`.
inline void copyOpaque(const std::uint32_t* source, std::uint32_t* target, std::size_t pixels,
                       std::uint32_t unused = 0xff000000u) {
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(unused));
    for (; i + 4 <= pixels; i += 4) {
        const __m128i value = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + i), _mm_or_si128(value, alpha));
    }
#endif
    for (; i < pixels; ++i) {
        target[i] = source[i] | unused;
    }
}
