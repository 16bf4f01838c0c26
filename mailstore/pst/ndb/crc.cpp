#include "mailstore/pst/ndb/crc.h"

#include <array>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define MBX_CRC_CLMUL 1
#include <immintrin.h>
#endif

namespace mbx::pst {
namespace {

// Sixteen tables for the slicing method: table k advances the CRC over a byte followed by k
// zero bytes, so sixteen input bytes are folded in with sixteen independent lookups.
constexpr std::array<std::array<std::uint32_t, 256>, 16> makeTables() {
    std::array<std::array<std::uint32_t, 256>, 16> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
        t[0][i] = c;
    }
    for (std::size_t k = 1; k < 16; ++k)
        for (std::uint32_t i = 0; i < 256; ++i)
            t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    return t;
}
constexpr auto kTables = makeTables();
static_assert(kTables[0][1] == 0x77073096u);
static_assert(kTables[1][1] == 0x191B3141u); // the second table of [MS-PST] §5.3

std::uint32_t crc32Tables(const std::uint8_t* p, std::size_t n, std::uint32_t crc) {
    while (n >= 16) {
        const std::uint32_t a = crc ^ readLe32(p);
        const std::uint32_t b = readLe32(p + 4);
        const std::uint32_t c = readLe32(p + 8);
        const std::uint32_t d = readLe32(p + 12);
        crc = kTables[15][a & 0xFF] ^ kTables[14][(a >> 8) & 0xFF] ^ kTables[13][(a >> 16) & 0xFF] ^
              kTables[12][a >> 24] ^ kTables[11][b & 0xFF] ^ kTables[10][(b >> 8) & 0xFF] ^
              kTables[9][(b >> 16) & 0xFF] ^ kTables[8][b >> 24] ^ kTables[7][c & 0xFF] ^
              kTables[6][(c >> 8) & 0xFF] ^ kTables[5][(c >> 16) & 0xFF] ^ kTables[4][c >> 24] ^
              kTables[3][d & 0xFF] ^ kTables[2][(d >> 8) & 0xFF] ^ kTables[1][(d >> 16) & 0xFF] ^
              kTables[0][d >> 24];
        p += 16;
        n -= 16;
    }
    while (n >= 8) {
        const std::uint32_t lo = crc ^ readLe32(p);
        const std::uint32_t hi = readLe32(p + 4);
        crc = kTables[7][lo & 0xFF] ^ kTables[6][(lo >> 8) & 0xFF] ^ kTables[5][(lo >> 16) & 0xFF] ^
              kTables[4][lo >> 24] ^ kTables[3][hi & 0xFF] ^ kTables[2][(hi >> 8) & 0xFF] ^
              kTables[1][(hi >> 16) & 0xFF] ^ kTables[0][hi >> 24];
        p += 8;
        n -= 8;
    }
    while (n--)
        crc = kTables[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return crc;
}

#ifdef MBX_CRC_CLMUL
// Folding by carry-less multiplication (Intel's "Fast CRC Computation for Generic Polynomials
// Using PCLMULQDQ"), for the bulk of every block: four 128-bit lanes fold 64 bytes a step, then
// fold into one lane, which a Barrett reduction brings to 32 bits. The constants are powers of
// x modulo the polynomial, bit-reflected; u is the Barrett constant x^64 / P. Takes n >= 64, a
// multiple of 16.
__attribute__((target("pclmul"))) inline __m128i load(const std::uint8_t* q) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
}

// x times the two halves of k, added to the next 16 bytes.
__attribute__((target("pclmul"))) inline __m128i fold(__m128i x, __m128i k, __m128i next) {
    return _mm_xor_si128(
        _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}

__attribute__((target("pclmul"))) std::uint32_t crc32Clmul(const std::uint8_t* p, std::size_t n,
                                                           std::uint32_t crc) {
    const __m128i k1k2 = _mm_set_epi64x(0x1C6E41596, 0x154442BD4);
    const __m128i k3k4 = _mm_set_epi64x(0x0CCAA009E, 0x1751997D0);
    const __m128i k5 = _mm_set_epi64x(0, 0x163CD6124);
    const __m128i poly = _mm_set_epi64x(0x1F7011641, 0x1DB710641); // u, P
    const __m128i low32 = _mm_set_epi32(0, 0, 0, -1);
    __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x2 = load(p + 16);
    __m128i x3 = load(p + 32);
    __m128i x4 = load(p + 48);
    p += 64;
    n -= 64;
    while (n >= 64) {
        x1 = fold(x1, k1k2, load(p));
        x2 = fold(x2, k1k2, load(p + 16));
        x3 = fold(x3, k1k2, load(p + 32));
        x4 = fold(x4, k1k2, load(p + 48));
        p += 64;
        n -= 64;
    }
    x1 = fold(x1, k3k4, x2);
    x1 = fold(x1, k3k4, x3);
    x1 = fold(x1, k3k4, x4);
    while (n >= 16) {
        x1 = fold(x1, k3k4, load(p));
        p += 16;
        n -= 16;
    }
    // 128 -> 64 bits, then 64 -> 32 bits, then the Barrett reduction.
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k3k4, 0x10));
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 4),
                       _mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5, 0x00));
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), poly, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), poly, 0x00);
    x1 = _mm_xor_si128(x1, t);
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(x1, 4)));
}

bool haveClmul() {
    static const bool yes = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("pclmul") != 0;
    }();
    return yes;
}
#endif

} // namespace

std::uint32_t crc32(ByteView data, std::uint32_t initial) {
    const std::uint8_t* p = data.data();
    std::size_t n = data.size();
    std::uint32_t crc = initial;
#ifdef MBX_CRC_CLMUL
    if (n >= 64 && haveClmul()) {
        const std::size_t bulk = n & ~std::size_t{15};
        crc = crc32Clmul(p, bulk, crc);
        p += bulk;
        n -= bulk;
    }
#endif
    return crc32Tables(p, n, crc);
}

} // namespace mbx::pst
