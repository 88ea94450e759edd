// CRC-32 folding with PCLMULQDQ: four 128-bit lanes are folded 64 bytes at a
// time, then into one lane, to 64 bits, and Barrett-reduced to 32 bits. The
// constants are powers of x modulo the bit-reflected polynomial 0xEDB88320.
#include "engine/crc32_fold.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace mk::engine {

#if defined(__x86_64__)

namespace {

#define MK_FOLD_TARGET __attribute__((target("pclmul,sse4.1")))

MK_FOLD_TARGET inline __m128i Load(const uint8_t *p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

// Carries the 128 bits of x forward over a distance whose two constants
// are the halves of k, and adds the data that lies there.
MK_FOLD_TARGET inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
    const __m128i low = _mm_clmulepi64_si128(x, k, 0x00);
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x11), next), low);
}

}  // namespace

bool CanFoldCrc32() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}

MK_FOLD_TARGET uint32_t FoldCrc32(uint32_t crc, const uint8_t *data, size_t length) {
    // x^(4*128+32) and x^(4*128-32); x^(128+32) and x^(128-32); x^64; the
    // polynomial and its Barrett constant, all bit-reflected.
    const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
    const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
    const __m128i k5 = _mm_set_epi64x(0, 0x0163cd6124);
    const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);
    const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);

    __m128i x1 = Load(data);
    __m128i x2 = Load(data + 16);
    __m128i x3 = Load(data + 32);
    __m128i x4 = Load(data + 48);
    // The running CRC is kept inverted, as the table method keeps it.
    x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128(static_cast<int>(~crc)));
    data += 64;
    length -= 64;

    while (length >= 64) {
        x1 = Fold(x1, k1k2, Load(data));
        x2 = Fold(x2, k1k2, Load(data + 16));
        x3 = Fold(x3, k1k2, Load(data + 32));
        x4 = Fold(x4, k1k2, Load(data + 48));
        data += 64;
        length -= 64;
    }

    // Four lanes into one.
    x1 = Fold(x1, k3k4, x2);
    x1 = Fold(x1, k3k4, x3);
    x1 = Fold(x1, k3k4, x4);
    while (length >= 16) {
        x1 = Fold(x1, k3k4, Load(data));
        data += 16;
        length -= 16;
    }

    // 128 bits to 64.
    __m128i x = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k3k4, 0x10));
    x = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, low32), k5, 0x00),
                      _mm_srli_si128(x, 4));

    // Barrett reduction to 32 bits.
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, low32), poly, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), poly, 0x00);
    x = _mm_xor_si128(x, t);
    return ~static_cast<uint32_t>(_mm_extract_epi32(x, 1));
}

#undef MK_FOLD_TARGET

#else

namespace {

#define MK_FOLD_TARGET __attribute__((target("pclmul,sse4.1")))

MK_FOLD_TARGET inline __m128i Load(const uint8_t *p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

// Carries the 128 bits of x forward over a distance whose two constants
// are the halves of k, and adds the data that lies there.
MK_FOLD_TARGET inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
    const __m128i low = _mm_clmulepi64_si128(x, k, 0x00);
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x11), next), low);
}

}  // namespace

bool CanFoldCrc32() { return false; }

uint32_t FoldCrc32(uint32_t crc, const uint8_t *, size_t) { return crc; }

#endif

}  // namespace mk::engine
