// SHA-256 rounds with the SHA-NI instructions: two rounds per sha256rnds2, the message schedule
// by sha256msg1/msg2, the state kept as the ABEF/CDGH halves the instructions work on. Built
// for every x86-64 processor; called only on one that has the extensions.
#include "Sha256Ni.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#include <immintrin.h>

namespace velmora {

bool CpuHasShaNi() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_SSE4_1)) return false;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    return (b & (1u << 29)) != 0;
}

__attribute__((target("sha,sse4.1"))) void CompressShaNi(uint32_t state[8], const uint8_t* blocks, size_t count) {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
    __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
    for (; count > 0; --count, blocks += 64) {
        const __m128i abefStart = abef, cdghStart = cdgh;
        __m128i msg[4];
        for (int g = 0; g < 16; ++g) {
            if (g < 4) msg[g] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * g)), byteSwap);
            __m128i m = _mm_add_epi32(msg[g & 3], _mm_load_si128(reinterpret_cast<const __m128i*>(kSha256Rounds + 4 * g)));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, m);
            // The schedule four words ahead: W[t] from W[t-16..t-1], in the two halves the
            // instructions split it into.
            if (g >= 3 && g < 15) {
                __m128i& next = msg[(g + 1) & 3];
                next = _mm_add_epi32(next, _mm_alignr_epi8(msg[g & 3], msg[(g + 3) & 3], 4));
                next = _mm_sha256msg2_epu32(next, msg[g & 3]);
            }
            m = _mm_shuffle_epi32(m, 0x0E);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, m);
            if (g >= 1 && g < 13) msg[(g + 3) & 3] = _mm_sha256msg1_epu32(msg[(g + 3) & 3], msg[g & 3]);
        }
        abef = _mm_add_epi32(abef, abefStart);
        cdgh = _mm_add_epi32(cdgh, cdghStart);
    }
    __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

}  // namespace velmora

#else

namespace velmora {

bool CpuHasShaNi() { return false; }
void CompressShaNi(uint32_t*, const uint8_t*, size_t) {}

}  // namespace velmora

#endif
