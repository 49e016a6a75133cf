#include "soundlib/io/bank_cipher.h"

#include <array>

namespace soundlib {

namespace {

constexpr std::array<std::uint8_t, 256> make_reversed() {
    std::array<std::uint8_t, 256> t{};
    for (unsigned v = 0; v < 256; ++v) {
        unsigned r = 0;
        for (unsigned bit = 0; bit < 8; ++bit) r |= ((v >> bit) & 1u) << (7 - bit);
        t[v] = static_cast<std::uint8_t>(r);
    }
    return t;
}

constexpr std::array<std::uint8_t, 256> kReversed = make_reversed();

}  // namespace

BankCipher::BankCipher(std::string key, bool reverse_bits, std::uint64_t origin, std::uint64_t start,
                       std::uint64_t end)
    : key_(std::move(key)), reverse_(reverse_bits), origin_(origin), start_(start), end_(end) {}

void BankCipher::decrypt(std::uint8_t* p, std::uint64_t offset, std::size_t len) const {
    const std::size_t n = key_.size();
    if (n == 0) return;
    const auto* key = reinterpret_cast<const std::uint8_t*>(key_.data());
    std::size_t k = static_cast<std::size_t>((offset - origin_) % n);
    if (reverse_) {
        for (std::size_t i = 0; i < len; ++i) {
            p[i] = kReversed[p[i] ^ key[k]];
            if (++k == n) k = 0;
        }
    } else {
        for (std::size_t i = 0; i < len; ++i) {
            p[i] ^= key[k];
            if (++k == n) k = 0;
        }
    }
}

void BankCipher::encrypt(std::uint8_t* p, std::size_t len, const std::string& key, bool reverse_bits,
                         std::uint64_t offset) {
    const std::size_t n = key.size();
    if (n == 0) return;
    for (std::size_t i = 0; i < len; ++i) {
        const std::uint8_t plain = reverse_bits ? kReversed[p[i]] : p[i];
        p[i] = static_cast<std::uint8_t>(plain ^ static_cast<std::uint8_t>(key[(offset + i) % n]));
    }
}

}  // namespace soundlib
