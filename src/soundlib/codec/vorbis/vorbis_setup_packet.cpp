#include "soundlib/codec/vorbis/vorbis_setup_packet.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace soundlib {

namespace {

class BitReader {
public:
    explicit BitReader(const ByteVector& bytes) : bytes_(bytes) {}

    // Reads n (0..32) bits; past the end sets failed() and gives 0.
    std::uint32_t read(int n) {
        if (n == 0) return 0;
        if (at_ + static_cast<std::size_t>(n) > bytes_.size() * 8) {
            failed_ = true;
            at_ = bytes_.size() * 8;
            return 0;
        }
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++at_) {
            v |= static_cast<std::uint32_t>((bytes_[at_ >> 3] >> (at_ & 7)) & 1) << i;
        }
        return v;
    }

    std::size_t position() const { return at_; }
    bool failed() const { return failed_; }
    void fail() { failed_ = true; }

    // The bits from `from` to where reading stands.
    BitString since(std::size_t from) const {
        BitString s;
        s.bits = at_ - from;
        s.bytes.assign((s.bits + 7) / 8, 0);
        for (std::size_t i = 0; i < s.bits; ++i) {
            const std::size_t b = from + i;
            s.bytes[i >> 3] |= static_cast<std::uint8_t>(((bytes_[b >> 3] >> (b & 7)) & 1) << (i & 7));
        }
        return s;
    }

private:
    const ByteVector& bytes_;
    std::size_t at_ = 0;
    bool failed_ = false;
};

class BitWriter {
public:
    void write(std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i) put((v >> i) & 1);
    }
    void write(const BitString& s) {
        for (std::size_t i = 0; i < s.bits; ++i) put((s.bytes[i >> 3] >> (i & 7)) & 1);
    }
    ByteVector take() { return std::move(bytes_); }

private:
    void put(unsigned bit) {
        if ((at_ & 7) == 0) bytes_.push_back(0);
        bytes_.back() |= static_cast<std::uint8_t>(bit << (at_ & 7));
        ++at_;
    }
    ByteVector bytes_;
    std::size_t at_ = 0;
};

int ilog(std::uint32_t v) {
    int n = 0;
    while (v) {
        ++n;
        v >>= 1;
    }
    return n;
}

// The greatest r with r^dimensions <= entries: a floating-point guess,
// settled with integers.
std::uint64_t lookup1_values(std::uint32_t entries, std::uint32_t dimensions) {
    const auto fits = [&](std::uint64_t r) {
        std::uint64_t power = 1;
        for (std::uint32_t d = 0; d < dimensions && power <= entries; ++d) power *= r;
        return power <= entries;
    };
    auto r = static_cast<std::uint64_t>(std::pow(static_cast<double>(entries), 1.0 / dimensions));
    while (r > 0 && !fits(r)) --r;
    while (fits(r + 1)) ++r;
    return r;
}

// Walks one codebook; only its extent matters here.
void skip_codebook(BitReader& in) {
    if (in.read(24) != 0x564342) return in.fail();
    const std::uint32_t dimensions = in.read(16);
    const std::uint32_t entries = in.read(24);
    if (in.read(1)) {  // ordered lengths
        in.read(5);
        for (std::uint32_t entry = 0; entry < entries && !in.failed();) {
            const std::uint32_t count = in.read(ilog(entries - entry));
            if (count > entries - entry) return in.fail();
            entry += count;
        }
    } else {
        const bool sparse = in.read(1);
        for (std::uint32_t e = 0; e < entries && !in.failed(); ++e) {
            if (!sparse || in.read(1)) in.read(5);
        }
    }
    const std::uint32_t lookup = in.read(4);
    if (lookup == 0) return;
    if (lookup > 2) return in.fail();
    in.read(32);  // minimum value
    in.read(32);  // delta
    const int value_bits = static_cast<int>(in.read(4)) + 1;
    in.read(1);  // sequence flag
    const std::uint64_t values = lookup == 1 ? (dimensions ? lookup1_values(entries, dimensions) : 0)
                                             : static_cast<std::uint64_t>(entries) * dimensions;
    for (std::uint64_t v = 0; v < values && !in.failed(); ++v) in.read(value_bits);
}

bool read_floor1(BitReader& in, VorbisFloor& floor) {
    const std::size_t start = in.position();
    const std::uint32_t partitions = in.read(5);
    std::vector<std::uint32_t> partition_class(partitions);
    int max_class = -1;
    for (auto& c : partition_class) {
        c = in.read(4);
        max_class = std::max(max_class, static_cast<int>(c));
    }
    std::vector<std::uint32_t> class_dimensions(static_cast<std::size_t>(max_class + 1));
    int highest_book = -1;
    for (auto& dimensions : class_dimensions) {
        dimensions = in.read(3) + 1;
        const std::uint32_t subclasses = in.read(2);
        if (subclasses) highest_book = std::max(highest_book, static_cast<int>(in.read(8)));
        for (std::uint32_t k = 0; k < (1u << subclasses); ++k) {
            highest_book = std::max(highest_book, static_cast<int>(in.read(8)) - 1);
        }
    }
    in.read(2);  // multiplier
    const int range_bits = static_cast<int>(in.read(4));
    floor.posts = 0;
    for (const std::uint32_t c : partition_class) floor.posts += class_dimensions[c];
    for (std::uint32_t k = 0; k < floor.posts && !in.failed(); ++k) in.read(range_bits);
    floor.range = 1u << range_bits;
    floor.books_used = highest_book + 1;
    floor.body = in.since(start);
    return !in.failed();
}

// Copies `bits` bits from in to out.
void copy_bits(BitReader& in, BitWriter& out, int bits) { out.write(in.read(bits), bits); }

// Copies an 8-bit codebook number, raised by shift (the "none" a subclass
// book writes as 0 stays 0: it is stored as number + 1).
bool copy_book(BitReader& in, BitWriter& out, int shift, bool stored_plus_one) {
    const int book = static_cast<int>(in.read(8));
    if (stored_plus_one && book == 0) {
        out.write(0, 8);
        return true;
    }
    const int shifted = book + shift;
    if (shifted < 0 || shifted > 255) return false;
    out.write(static_cast<std::uint32_t>(shifted), 8);
    return true;
}

void read_residue(BitReader& in, VorbisResidue& r) {
    r.begin = in.read(24);
    r.end = in.read(24);
    r.grouping = in.read(24) + 1;
    const std::uint32_t classes = in.read(6) + 1;
    r.groupbook = in.read(8);
    r.cascade.resize(classes);
    int books = 0;
    for (auto& c : r.cascade) {
        std::uint32_t bits = in.read(3);
        if (in.read(1)) bits |= in.read(5) << 3;
        c = static_cast<std::uint8_t>(bits);
        for (int k = 0; k < 8; ++k) books += (bits >> k) & 1;
    }
    r.books.resize(static_cast<std::size_t>(books));
    for (auto& b : r.books) b = in.read(8);
}

bool read_mapping(BitReader& in, std::uint32_t channels, VorbisMapping& m) {
    const std::uint32_t submaps = in.read(1) ? in.read(4) + 1 : 1;
    if (in.read(1)) {
        const std::uint32_t steps = in.read(8) + 1;
        const int bits = ilog(channels - 1);
        m.coupling.resize(steps);
        for (auto& [magnitude, angle] : m.coupling) {
            magnitude = in.read(bits);
            angle = in.read(bits);
        }
    }
    if (in.read(2) != 0) return false;  // reserved
    m.mux.assign(channels, 0);
    if (submaps > 1) {
        for (auto& s : m.mux) s = static_cast<std::uint8_t>(in.read(4));
    }
    m.floor.resize(submaps);
    m.residue.resize(submaps);
    for (std::uint32_t i = 0; i < submaps; ++i) {
        in.read(8);  // unused time submap
        m.floor[i] = in.read(8);
        m.residue[i] = in.read(8);
    }
    return true;
}

}  // namespace

bool read_vorbis_setup(const ByteVector& packet, std::uint32_t channels, VorbisSetupHeader& out) {
    out = VorbisSetupHeader{};
    if (channels < 1 || channels > 255) return false;
    BitReader in(packet);
    if (in.read(8) != 5) return false;
    for (const char c : {'v', 'o', 'r', 'b', 'i', 's'}) {
        if (in.read(8) != static_cast<std::uint8_t>(c)) return false;
    }
    out.books.resize(in.read(8) + 1);
    for (auto& book : out.books) {
        const std::size_t start = in.position();
        skip_codebook(in);
        if (in.failed()) return false;
        book = in.since(start);
    }
    out.times = in.read(6) + 1;
    for (std::uint32_t i = 0; i < out.times; ++i) {
        if (in.read(16) != 0) return false;
    }
    out.floors.resize(in.read(6) + 1);
    for (auto& floor : out.floors) {
        if (in.read(16) != 1 || !read_floor1(in, floor)) return false;
    }
    out.residues.resize(in.read(6) + 1);
    for (auto& residue : out.residues) {
        residue.type = in.read(16);
        if (residue.type > 2) return false;
        read_residue(in, residue);
    }
    out.mappings.resize(in.read(6) + 1);
    for (auto& mapping : out.mappings) {
        if (in.read(16) != 0 || !read_mapping(in, channels, mapping)) return false;
    }
    out.modes.resize(in.read(6) + 1);
    for (auto& mode : out.modes) {
        mode.blockflag = in.read(1);
        mode.windowtype = in.read(16);
        mode.transformtype = in.read(16);
        mode.mapping = in.read(8);
    }
    return in.read(1) == 1 && !in.failed();
}

ByteVector write_vorbis_setup(const VorbisSetupHeader& setup, std::uint32_t channels) {
    BitWriter out;
    out.write(5, 8);
    for (const char c : {'v', 'o', 'r', 'b', 'i', 's'}) out.write(static_cast<std::uint8_t>(c), 8);
    out.write(static_cast<std::uint32_t>(setup.books.size() - 1), 8);
    for (const BitString& book : setup.books) out.write(book);
    out.write(setup.times - 1, 6);
    for (std::uint32_t i = 0; i < setup.times; ++i) out.write(0, 16);
    out.write(static_cast<std::uint32_t>(setup.floors.size() - 1), 6);
    for (const VorbisFloor& floor : setup.floors) {
        out.write(1, 16);
        out.write(floor.body);
    }
    out.write(static_cast<std::uint32_t>(setup.residues.size() - 1), 6);
    for (const VorbisResidue& r : setup.residues) {
        out.write(r.type, 16);
        out.write(r.begin, 24);
        out.write(r.end, 24);
        out.write(r.grouping - 1, 24);
        out.write(static_cast<std::uint32_t>(r.cascade.size() - 1), 6);
        out.write(r.groupbook, 8);
        for (const std::uint8_t c : r.cascade) {
            // The flag only when high bits follow, as libvorbis writes it.
            out.write(c & 7, 3);
            out.write(c > 7, 1);
            if (c > 7) out.write(c >> 3, 5);
        }
        for (const std::uint32_t b : r.books) out.write(b, 8);
    }
    out.write(static_cast<std::uint32_t>(setup.mappings.size() - 1), 6);
    for (const VorbisMapping& m : setup.mappings) {
        out.write(0, 16);
        const auto submaps = static_cast<std::uint32_t>(m.floor.size());
        out.write(submaps > 1, 1);
        if (submaps > 1) out.write(submaps - 1, 4);
        out.write(!m.coupling.empty(), 1);
        if (!m.coupling.empty()) {
            out.write(static_cast<std::uint32_t>(m.coupling.size() - 1), 8);
            for (const auto& [magnitude, angle] : m.coupling) {
                out.write(magnitude, ilog(channels - 1));
                out.write(angle, ilog(channels - 1));
            }
        }
        out.write(0, 2);
        if (submaps > 1) {
            for (const std::uint8_t s : m.mux) out.write(s, 4);
        }
        for (std::uint32_t i = 0; i < submaps; ++i) {
            out.write(0, 8);
            out.write(m.floor[i], 8);
            out.write(m.residue[i], 8);
        }
    }
    out.write(static_cast<std::uint32_t>(setup.modes.size() - 1), 6);
    for (const VorbisMode& mode : setup.modes) {
        out.write(mode.blockflag, 1);
        out.write(mode.windowtype, 16);
        out.write(mode.transformtype, 16);
        out.write(mode.mapping, 8);
    }
    out.write(1, 1);  // framing
    return out.take();
}

bool shift_floor_books(VorbisFloor& floor, int shift) {
    BitReader in(floor.body.bytes);
    BitWriter out;
    const std::uint32_t partitions = in.read(5);
    out.write(partitions, 5);
    int max_class = -1;
    for (std::uint32_t i = 0; i < partitions; ++i) {
        const std::uint32_t c = in.read(4);
        out.write(c, 4);
        max_class = std::max(max_class, static_cast<int>(c));
    }
    for (int c = 0; c <= max_class; ++c) {
        copy_bits(in, out, 3);  // dimensions - 1
        const std::uint32_t subclasses = in.read(2);
        out.write(subclasses, 2);
        if (subclasses && !copy_book(in, out, shift, false)) return false;
        for (std::uint32_t k = 0; k < (1u << subclasses); ++k) {
            if (!copy_book(in, out, shift, true)) return false;
        }
    }
    // Multiplier, range bits and the X list do not name books.
    if (in.failed() || in.position() > floor.body.bits) return false;
    const std::size_t rest = floor.body.bits - in.position();
    for (std::size_t i = 0; i < rest; ++i) copy_bits(in, out, 1);
    if (in.failed()) return false;
    floor.body.bytes = out.take();
    floor.books_used = floor.books_used > 0 ? floor.books_used + shift : floor.books_used;
    return true;
}

}  // namespace soundlib
