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

#define VELMORA_SHA_TARGET __attribute__((target("sha,sse4.1"), always_inline)) inline

namespace {

// The state words in order (a..d, e..h, as the digest has them) to the instructions' halves.
VELMORA_SHA_TARGET void ToHalves(__m128i dcba, __m128i hgfe, __m128i& abef, __m128i& cdgh) {
    __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    abef = _mm_alignr_epi8(cdab, efgh, 8);
    cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
}

VELMORA_SHA_TARGET void FromHalves(__m128i abef, __m128i cdgh, __m128i& dcba, __m128i& hgfe) {
    __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    dcba = _mm_blend_epi16(feba, dchg, 0xF0);
    hgfe = _mm_alignr_epi8(dchg, feba, 8);
}

// One block's 64 rounds on the halves; msg holds the block's sixteen words, four per vector.
VELMORA_SHA_TARGET void Block(__m128i& abef, __m128i& cdgh, __m128i msg[4]) {
    const __m128i abefStart = abef, cdghStart = cdgh;
    for (int g = 0; g < 16; ++g) {
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

}  // namespace

__attribute__((target("sha,sse4.1"))) void CompressShaNi(uint32_t state[8], const uint8_t* blocks, size_t count) {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    __m128i abef, cdgh;
    ToHalves(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)),
             _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), abef, cdgh);
    for (; count > 0; --count, blocks += 64) {
        __m128i msg[4];
        for (int g = 0; g < 4; ++g)
            msg[g] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * g)), byteSwap);
        Block(abef, cdgh, msg);
    }
    __m128i dcba, hgfe;
    FromHalves(abef, cdgh, dcba, hgfe);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), dcba);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), hgfe);
}

// Each round's two blocks are the 32-byte digest before plus fixed padding (message length 96
// bytes, the key's block included), so the words go from one compression's output into the next
// one's message without leaving the registers.
__attribute__((target("sha,sse4.1"))) void Pbkdf2RoundsShaNi(const uint32_t inner[8], const uint32_t outer[8],
                                                             uint32_t u[8], uint32_t t[8], unsigned rounds) {
    __m128i innerAbef, innerCdgh, outerAbef, outerCdgh;
    ToHalves(_mm_loadu_si128(reinterpret_cast<const __m128i*>(inner)),
             _mm_loadu_si128(reinterpret_cast<const __m128i*>(inner + 4)), innerAbef, innerCdgh);
    ToHalves(_mm_loadu_si128(reinterpret_cast<const __m128i*>(outer)),
             _mm_loadu_si128(reinterpret_cast<const __m128i*>(outer + 4)), outerAbef, outerCdgh);
    const __m128i padStart = _mm_set_epi32(0, 0, 0, static_cast<int>(0x80000000u));
    const __m128i padLength = _mm_set_epi32(768, 0, 0, 0);
    __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(u));
    __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(u + 4));
    __m128i sumLo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t));
    __m128i sumHi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + 4));
    for (; rounds > 0; --rounds) {
        for (int half = 0; half < 2; ++half) {
            __m128i abef = half ? outerAbef : innerAbef, cdgh = half ? outerCdgh : innerCdgh;
            __m128i msg[4] = {lo, hi, padStart, padLength};
            Block(abef, cdgh, msg);
            FromHalves(abef, cdgh, lo, hi);
        }
        sumLo = _mm_xor_si128(sumLo, lo);
        sumHi = _mm_xor_si128(sumHi, hi);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(u), lo);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(u + 4), hi);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(t), sumLo);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(t + 4), sumHi);
}

}  // namespace velmora

#else

namespace velmora {

bool CpuHasShaNi() { return false; }
void CompressShaNi(uint32_t*, const uint8_t*, size_t) {}
void Pbkdf2RoundsShaNi(const uint32_t*, const uint32_t*, uint32_t*, uint32_t*, unsigned) {}

}  // namespace velmora

#endif
