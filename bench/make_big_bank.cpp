// Writes a large FSB5 bank of 16-bit stereo PCM straight to disk, for the
// speed and memory benchmark: make_big_bank OUT.fsb MEGABYTES [SUBSOUNDS]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: make_big_bank OUT.fsb MEGABYTES [SUBSOUNDS]\n");
        return 2;
    }
    const std::uint64_t total = std::strtoull(argv[2], nullptr, 10) << 20;
    const std::uint32_t count = argc > 3 ? static_cast<std::uint32_t>(std::atoi(argv[3])) : 4;
    const std::uint64_t per_sound = total / count / 32 * 32;  // frames of 4 bytes, offsets in 32s
    const std::uint64_t frames = per_sound / 4;

    std::vector<std::uint8_t> head(0x3C + 8ull * count, 0);
    std::memcpy(head.data(), "FSB5", 4);
    put32(&head[4], 1);
    put32(&head[8], count);
    put32(&head[0x0C], 8 * count);
    put32(&head[0x14], static_cast<std::uint32_t>(per_sound * count));
    put32(&head[0x18], 2);  // PCM16
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t word = (8ull << 1) | (1ull << 5) | ((per_sound * i / 32) << 7) | (frames << 34);
        put32(&head[0x3C + 8 * i], static_cast<std::uint32_t>(word));
        put32(&head[0x3C + 8 * i + 4], static_cast<std::uint32_t>(word >> 32));
    }
    std::FILE* f = std::fopen(argv[1], "wb");
    if (!f) {
        std::perror(argv[1]);
        return 1;
    }
    std::fwrite(head.data(), 1, head.size(), f);
    std::vector<std::uint8_t> block(1 << 20);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 131 + (i >> 9));
    for (std::uint64_t left = per_sound * count; left > 0;) {
        const std::size_t n = left < block.size() ? static_cast<std::size_t>(left) : block.size();
        if (std::fwrite(block.data(), 1, n, f) != n) {
            std::perror(argv[1]);
            return 1;
        }
        left -= n;
    }
    return std::fclose(f) == 0 ? 0 : 1;
}
