#include "soundlib/bank/fsb5_header.h"

#include "soundlib/io/bytes.h"

namespace soundlib::fsb5 {

namespace {

void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

bool read_sample_header(BankFile& file, std::uint64_t pos, std::uint64_t end, SampleHeader& h) {
    std::uint8_t w[8];
    if (pos + 8 > end || !file.read_exact(pos, w, 8)) return false;
    h.word = le64(w);
    h.chunks.clear();
    std::uint64_t at = pos + 8;
    bool more = h.word & 1;
    while (more) {
        std::uint8_t cw[4];
        if (at + 4 > end || !file.read_exact(at, cw, 4)) return false;
        const std::uint32_t c = le32(cw);
        more = c & 1;
        const std::uint32_t size = (c >> 1) & 0x00FFFFFF;
        std::vector<std::uint8_t> payload(size);
        if (at + 4 + size > end || !file.read_exact(at + 4, payload.data(), size)) return false;
        h.chunks.emplace_back(c >> 25, std::move(payload));
        at += 4 + size;
    }
    h.bytes = static_cast<std::size_t>(at - pos);
    return true;
}

std::vector<std::uint8_t> serialize(const SampleHeader& h) {
    std::vector<std::uint8_t> out(8);
    const std::uint64_t word = (h.word & ~std::uint64_t{1}) | (h.chunks.empty() ? 0 : 1);
    put32(out.data(), static_cast<std::uint32_t>(word));
    put32(out.data() + 4, static_cast<std::uint32_t>(word >> 32));
    for (std::size_t i = 0; i < h.chunks.size(); ++i) {
        const auto& [type, payload] = h.chunks[i];
        std::uint8_t cw[4];
        put32(cw, (i + 1 < h.chunks.size() ? 1u : 0u) | static_cast<std::uint32_t>(payload.size() << 1) | (type << 25));
        out.insert(out.end(), cw, cw + 4);
        out.insert(out.end(), payload.begin(), payload.end());
    }
    return out;
}

std::vector<std::uint8_t>* find_chunk(SampleHeader& h, std::uint32_t type) {
    for (auto& [t, payload] : h.chunks) {
        if (t == type) return &payload;
    }
    return nullptr;
}

}  // namespace soundlib::fsb5
