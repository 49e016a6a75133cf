#include "wav/ogg_crc.h"

#include <array>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define BANKRIP_OGG_CRC_CLMUL 1
#include <immintrin.h>
#endif

namespace {

constexpr std::uint32_t kPolynomial = 0x04C11DB7;

// kTables[k][b]: the CRC of the byte b followed by k zero bytes.
constexpr std::array<std::array<std::uint32_t, 256>, 8> make_tables() {
    std::array<std::array<std::uint32_t, 256>, 8> t{};
    for (std::uint32_t b = 0; b < 256; ++b) {
        std::uint32_t r = b << 24;
        for (int i = 0; i < 8; ++i) r = (r << 1) ^ ((r & 0x80000000u) ? kPolynomial : 0);
        t[0][b] = r;
    }
    for (std::size_t k = 1; k < 8; ++k) {
        for (std::uint32_t b = 0; b < 256; ++b) t[k][b] = (t[k - 1][b] << 8) ^ t[0][t[k - 1][b] >> 24];
    }
    return t;
}

constexpr auto kTables = make_tables();

#ifdef BANKRIP_OGG_CRC_CLMUL

// x^n modulo the polynomial: what multiplying by x^n folds to.
constexpr std::uint64_t x_to_the(int n) {
    std::uint64_t r = 1;
    for (int i = 0; i < n; ++i) {
        r <<= 1;
        if (r & 0x100000000ull) r ^= 0x100000000ull | kPolynomial;
    }
    return r;
}

// The 128 bits at p as a polynomial, its first byte the highest.
__attribute__((target("pclmul,ssse3"))) inline __m128i load_block(const std::uint8_t* p) {
    const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), reverse);
}

// x moved `k`'s distance on and added to d: x's high half times the
// distance plus 64, its low half times the distance, both reduced.
__attribute__((target("pclmul,ssse3"))) inline __m128i fold(__m128i x, __m128i k, __m128i d) {
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x11), _mm_clmulepi64_si128(x, k, 0x00)), d);
}

// Four accumulators of 128 bits each, 64 bytes a round; then folded into
// one, which is congruent to the data so far, and whose own CRC (as 16
// bytes) is the data's. At least 64 bytes.
__attribute__((target("pclmul,ssse3"))) std::uint32_t crc_by_folding(std::uint32_t crc, const std::uint8_t* p,
                                                                      std::size_t n) {
    const __m128i by512 = _mm_set_epi64x(static_cast<long long>(x_to_the(512 + 64)),
                                         static_cast<long long>(x_to_the(512)));
    const __m128i by128 = _mm_set_epi64x(static_cast<long long>(x_to_the(128 + 64)),
                                         static_cast<long long>(x_to_the(128)));
    // The CRC so far is added to the first 32 bits of the data.
    __m128i a0 = _mm_xor_si128(load_block(p), _mm_set_epi32(static_cast<int>(crc), 0, 0, 0));
    __m128i a1 = load_block(p + 16);
    __m128i a2 = load_block(p + 32);
    __m128i a3 = load_block(p + 48);
    p += 64;
    n -= 64;
    for (; n >= 64; p += 64, n -= 64) {
        a0 = fold(a0, by512, load_block(p));
        a1 = fold(a1, by512, load_block(p + 16));
        a2 = fold(a2, by512, load_block(p + 32));
        a3 = fold(a3, by512, load_block(p + 48));
    }
    a1 = fold(a0, by128, a1);
    a2 = fold(a1, by128, a2);
    a3 = fold(a2, by128, a3);
    for (; n >= 16; p += 16, n -= 16) a3 = fold(a3, by128, load_block(p));
    alignas(16) std::uint8_t rest[16];
    const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    _mm_store_si128(reinterpret_cast<__m128i*>(rest), _mm_shuffle_epi8(a3, reverse));
    return ogg_crc_by_table(ogg_crc_by_table(0, rest, sizeof rest), p, n);
}

bool can_fold() {
    static const bool yes = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("ssse3");
    return yes;
}

#endif

}  // namespace

std::uint32_t ogg_crc_by_table(std::uint32_t crc, const std::uint8_t* p, std::size_t n) {
    const auto& t = kTables;
    for (; n >= 8; p += 8, n -= 8) {
        const std::uint32_t w = crc ^ (std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 |
                                       std::uint32_t{p[2]} << 8 | p[3]);
        crc = t[7][w >> 24] ^ t[6][(w >> 16) & 0xFF] ^ t[5][(w >> 8) & 0xFF] ^ t[4][w & 0xFF] ^ t[3][p[4]] ^
              t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
    }
    for (; n > 0; ++p, --n) crc = (crc << 8) ^ t[0][(crc >> 24) ^ *p];
    return crc;
}

std::uint32_t ogg_crc(std::uint32_t crc, const std::uint8_t* data, std::size_t bytes) {
#ifdef BANKRIP_OGG_CRC_CLMUL
    if (bytes >= 64 && can_fold()) return crc_by_folding(crc, data, bytes);
#endif
    return ogg_crc_by_table(crc, data, bytes);
}
