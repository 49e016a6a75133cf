#include "bank_writer.h"

#include <cstdio>
#include <cstring>
#include <iterator>

#include "soundlib/bank/fsb5_codes.h"
#include "soundlib/bank/fsb5_header.h"

namespace bankwriter {

void put16(Bytes& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}

namespace {

void append32(Bytes& b, std::uint32_t v) {
    b.resize(b.size() + 4);
    put32(b, b.size() - 4, v);
}

void pad_to(Bytes& b, std::size_t start, std::size_t multiple) {
    while ((b.size() - start) % multiple) b.push_back(0);
}

Bytes write_fsb3_fsb4(const std::vector<Sound>& sounds, bool fsb4, std::uint32_t version, std::uint32_t bank_flags) {
    const std::size_t header_size = fsb4 ? 0x30 : 0x18;
    const std::size_t full = (!fsb4 && version == 0x00030000) ? 0x40 : 0x50;
    Bytes headers;
    for (const Sound& s : sounds) {
        Bytes h(full, 0);
        put16(h, 0, static_cast<std::uint32_t>(full + s.extra.size()));
        std::memcpy(h.data() + 2, s.name.data(), s.name.size() < 30 ? s.name.size() : 30);
        put32(h, 0x20, s.frames);
        put32(h, 0x24, static_cast<std::uint32_t>(s.data.size()));
        put32(h, 0x28, s.loop_start);
        put32(h, 0x2C, s.loop_end);
        put32(h, 0x30, s.flags);
        put32(h, 0x34, s.frequency);
        put16(h, 0x38, 255);
        put16(h, 0x3A, 128);
        put16(h, 0x3C, 128);
        put16(h, 0x3E, s.channels);
        headers.insert(headers.end(), h.begin(), h.end());
        headers.insert(headers.end(), s.extra.begin(), s.extra.end());
    }
    Bytes data;
    for (const Sound& s : sounds) {
        data.insert(data.end(), s.data.begin(), s.data.end());
        if (bank_flags & 0x40) pad_to(data, 0, 32);
    }
    Bytes bank(header_size, 0);
    bank.reserve(bank.size() + headers.size() + data.size());
    std::memcpy(bank.data(), fsb4 ? "FSB4" : "FSB3", 4);
    put32(bank, 4, static_cast<std::uint32_t>(sounds.size()));
    put32(bank, 8, static_cast<std::uint32_t>(headers.size()));
    put32(bank, 0x0C, static_cast<std::uint32_t>(data.size()));
    put32(bank, 0x10, version);
    put32(bank, 0x14, bank_flags);
    bank.insert(bank.end(), headers.begin(), headers.end());
    bank.insert(bank.end(), data.begin(), data.end());
    return bank;
}

int frequency_code(std::uint32_t hz) {
    for (int i = 0; i < static_cast<int>(std::size(soundlib::fsb5::kFrequencies)); ++i) {
        if (soundlib::fsb5::kFrequencies[i] == hz) return i;
    }
    return -1;
}

int channel_code(std::uint32_t channels) {
    for (int i = 0; i < static_cast<int>(std::size(soundlib::fsb5::kChannelCounts)); ++i) {
        if (soundlib::fsb5::kChannelCounts[i] == channels) return i;
    }
    return -1;
}

}  // namespace

Bytes write_fsb4(const std::vector<Sound>& sounds, std::uint32_t bank_flags) {
    return write_fsb3_fsb4(sounds, true, 0x00040000, bank_flags);
}

Bytes write_fsb3(const std::vector<Sound>& sounds, std::uint32_t version, std::uint32_t bank_flags) {
    return write_fsb3_fsb4(sounds, false, version, bank_flags);
}

Bytes write_fsb5(const std::vector<Sound>& sounds, std::uint32_t codec, std::uint32_t flags) {
    Bytes data;
    std::vector<std::uint64_t> offsets;
    for (const Sound& s : sounds) {
        offsets.push_back(data.size());
        data.insert(data.end(), s.data.begin(), s.data.end());
        pad_to(data, 0, 32);
    }

    Bytes headers;
    for (std::size_t i = 0; i < sounds.size(); ++i) {
        const Sound& s = sounds[i];
        std::vector<std::pair<std::uint32_t, Bytes>> chunks;
        const int fcode = frequency_code(s.frequency);
        const int ccode = channel_code(s.channels);
        if (ccode < 0) chunks.push_back({1, Bytes{static_cast<std::uint8_t>(s.channels)}});
        if (fcode < 0) {
            Bytes p(4);
            put32(p, 0, s.frequency);
            chunks.push_back({2, p});
        }
        chunks.insert(chunks.end(), s.chunks.begin(), s.chunks.end());

        soundlib::fsb5::SampleHeader h;
        using namespace soundlib::fsb5;
        h.word = with_field(h.word, kFrequencyShift, kFrequencyMask, static_cast<std::uint64_t>(fcode < 0 ? 8 : fcode));
        h.word = with_field(h.word, kChannelShift, kChannelMask, static_cast<std::uint64_t>(ccode < 0 ? 0 : ccode));
        h.word = with_field(h.word, kOffsetShift, kOffsetMask, offsets[i] / 32);
        h.word |= static_cast<std::uint64_t>(s.frames) << kFramesShift;
        h.chunks = std::move(chunks);
        const Bytes made = serialize(h);
        headers.insert(headers.end(), made.begin(), made.end());
    }

    Bytes names;
    bool any_name = false;
    for (const Sound& s : sounds) any_name = any_name || !s.name.empty();
    if (any_name) {
        names.resize(4 * sounds.size());
        for (std::size_t i = 0; i < sounds.size(); ++i) {
            put32(names, 4 * i, static_cast<std::uint32_t>(names.size()));
            names.insert(names.end(), sounds[i].name.begin(), sounds[i].name.end());
            names.push_back(0);
        }
        pad_to(names, 0, 16);
    }

    Bytes bank(0x3C, 0);
    bank.reserve(bank.size() + headers.size() + names.size() + data.size());
    std::memcpy(bank.data(), "FSB5", 4);
    put32(bank, 4, 1);
    put32(bank, 8, static_cast<std::uint32_t>(sounds.size()));
    put32(bank, 0x0C, static_cast<std::uint32_t>(headers.size()));
    put32(bank, 0x10, static_cast<std::uint32_t>(names.size()));
    put32(bank, 0x14, static_cast<std::uint32_t>(data.size()));
    put32(bank, 0x18, codec);
    put32(bank, 0x20, flags);
    bank.insert(bank.end(), headers.begin(), headers.end());
    bank.insert(bank.end(), names.begin(), names.end());
    bank.insert(bank.end(), data.begin(), data.end());
    return bank;
}

namespace {

void append_id(Bytes& b, const char* id) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(id[i]));
}

// Appends a chunk header and returns where its size goes.
std::size_t begin_chunk(Bytes& b, const char* id) {
    append_id(b, id);
    append32(b, 0);
    return b.size() - 4;
}

void end_chunk(Bytes& b, std::size_t size_at) {
    const std::size_t size = b.size() - size_at - 4;
    put32(b, size_at, static_cast<std::uint32_t>(size));
    if (size & 1) b.push_back(0);
}

void add_chunk(Bytes& b, const char* id, const Bytes& payload) {
    const std::size_t at = begin_chunk(b, id);
    b.insert(b.end(), payload.begin(), payload.end());
    end_chunk(b, at);
}

}  // namespace

Bytes write_fev(const std::vector<Bytes>& banks) {
    Bytes b;
    const std::size_t riff = begin_chunk(b, "RIFF");
    append_id(b, "FEV ");
    Bytes version(8, 0);
    put32(version, 0, 146);
    put32(version, 4, 146);
    add_chunk(b, "FMT ", version);
    const std::size_t project = begin_chunk(b, "LIST");
    append_id(b, "PROJ");
    add_chunk(b, "BNKI", Bytes(31, 0x42));
    const std::size_t events = begin_chunk(b, "LIST");
    append_id(b, "EVTS");
    add_chunk(b, "EVNT", Bytes(5, 0x45));
    end_chunk(b, events);
    end_chunk(b, project);
    for (const Bytes& bank : banks) {
        const std::size_t sound = begin_chunk(b, "SND ");
        pad_to(b, 0, 32);
        b.insert(b.end(), bank.begin(), bank.end());
        end_chunk(b, sound);
    }
    put32(b, riff, static_cast<std::uint32_t>(b.size() - 8));
    return b;
}

Bytes encrypt(Bytes bank, const std::string& key, bool reverse_bits) {
    if (key.empty()) return bank;
    for (std::size_t i = 0; i < bank.size(); ++i) {
        std::uint8_t v = bank[i];
        if (reverse_bits) {
            std::uint8_t r = 0;
            for (int bit = 0; bit < 8; ++bit) r = static_cast<std::uint8_t>(r | (((v >> bit) & 1) << (7 - bit)));
            v = r;
        }
        bank[i] = static_cast<std::uint8_t>(v ^ static_cast<std::uint8_t>(key[i % key.size()]));
    }
    return bank;
}

Bytes write_nested_fsb5(std::size_t bytes, std::size_t broken_every) {
    const std::size_t count = bytes / 72;
    Bytes file(count * 72, 0);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = i * 72;
        std::memcpy(&file[at], "FSB5", 4);
        put32(file, at + 4, 1);                                                     // version
        put32(file, at + 8, 1);                                                     // one subsound
        put32(file, at + 0x0C, static_cast<std::uint32_t>(file.size() - at - 0x3C));  // headers to the end
        put32(file, at + 0x18, 2);                                                  // PCM16
        file[at + 0x3C] = 1;                                                        // a chunk follows
        // A chunk of an unknown type holding the next bank's main header and
        // subsound header, then (as the next bank's chunk) another chunk.
        const bool broken = broken_every && i % broken_every == broken_every - 1;
        put32(file, at + 0x44, 1u | ((broken ? 0xFFFFFFu : 0x44u) << 1) | (6u << 25));
    }
    return file;
}

bool save(const std::string& path, const Bytes& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace bankwriter
