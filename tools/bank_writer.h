// Writes small FSB3, FSB4 and FSB5 banks from stored data, for the tests and
// the demo. The layouts follow what real banks show; but a bank from here
// proves only that reader and writer agree, so the real banks stay the judge.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace bankwriter {

using Bytes = std::vector<std::uint8_t>;

struct Sound {
    std::string name;
    std::uint32_t channels = 1;
    std::uint32_t frequency = 44100;
    std::uint32_t frames = 0;
    Bytes data;  // stored exactly as given
    std::uint32_t loop_start = 0;
    std::uint32_t loop_end = 0;
    // FSB3/FSB4: the subsound flags (codec bits), and extra data after the header.
    std::uint32_t flags = 0x10;
    Bytes extra;
    // FSB5: chunks beyond channels and frequency, as (type, payload).
    std::vector<std::pair<std::uint32_t, Bytes>> chunks;
};

// FSB4 bank; bank_flags as in the main header (0x40 aligns data to 32).
Bytes write_fsb4(const std::vector<Sound>& sounds, std::uint32_t bank_flags = 0);
// FSB3 bank, version 0x00030000 or 0x00030001.
Bytes write_fsb3(const std::vector<Sound>& sounds, std::uint32_t version = 0x00030001,
                 std::uint32_t bank_flags = 0);
// FSB5 version 1 bank whose subsounds all use `codec` (2 = PCM16, ...).
// Names are written when any sound has one.
Bytes write_fsb5(const std::vector<Sound>& sounds, std::uint32_t codec, std::uint32_t flags = 0);

// A RIFF "FEV " file as the vendor's authoring tool writes one: an "FMT "
// chunk, a "LIST" of event data (nested, with odd-sized chunks and their pad
// bytes), then one "SND " chunk per bank, each bank starting at a multiple
// of 32 from the start of the file after zero padding.
Bytes write_fev(const std::vector<Bytes>& banks);

// The bank encrypted with `key` as games do it: each byte XORed with the
// key's bytes in turn (counted from the bank's first byte), its bits then
// reversed unless `reverse_bits` is false. Put an encrypted bank in a .bank
// file with write_fev() as it is: it stays encrypted from its own first byte.
Bytes encrypt(Bytes bank, const std::string& key, bool reverse_bits = true);

// Hostile input for scans: `bytes` of FSB5 "banks", 72 bytes apart, each
// inside the first chunk of the one before, so that the chunk chain of each
// runs on through the chains of all those after it, up to a chunk that runs
// past the end of the file (the last one, and with `broken_every` one in so
// many).
Bytes write_nested_fsb5(std::size_t bytes, std::size_t broken_every = 0);

bool save(const std::string& path, const Bytes& bytes);

void put16(Bytes& b, std::size_t at, std::uint32_t v);
void put32(Bytes& b, std::size_t at, std::uint32_t v);

}  // namespace bankwriter
