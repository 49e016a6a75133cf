// An open bank: its file, the FSB banks found in it (its parts), a small
// record per subsound, and the few subsounds being worked on.
//
// Memory per subsound is its record and its handle (28 bytes); descriptions
// are rebuilt from the headers when asked for, and decoders are open for at
// most two subsounds at a time.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "soundlib/bank/bank_locator.h"
#include "soundlib/codec/codec_cache.h"
#include "soundlib/codec/pcm_stream.h"
#include "soundlib/codec/stored_units.h"
#include "soundlib/io/bank_file.h"
#include "soundlib/soundlib.h"

namespace soundlib {
class Bank;
}

// A handle the library gives out: the bank itself, or one of its subsounds
// (whose index is its place in the bank's array of handles).
struct FMOD_SOUND {
    static constexpr std::uint32_t kBankMagic = 0x534e4442;      // guards against stray pointers
    static constexpr std::uint32_t kSubsoundMagic = 0x53554253;
    std::uint32_t magic = kBankMagic;
    std::uint32_t position = 0;  // frames; where the next read starts (lengths are 32-bit)
    soundlib::Bank* bank = nullptr;
};

namespace soundlib {

class Bank {
public:
    Bank() = default;
    Bank(const Bank&) = delete;
    Bank& operator=(const Bank&) = delete;

    // The codec state to share with other banks (the system's); until this
    // is called, the bank keeps its own. Must outlive the bank.
    void share_codecs(CodecCache& shared) { cache_ = &shared; }

    // `name` is how the file is called in notes and errors.
    BankReadError open(const std::string& path, const OpenOptions& options = {});
    BankReadError open_memory(const void* data, std::uint64_t size, const std::string& name,
                              const OpenOptions& options = {});
    // The bank `other` has open, read by this one through a file handle and
    // decoders of its own (for another thread), with the same subsounds,
    // notes and shared codec state. False when no second handle was given.
    bool open_same(const Bank& other, std::string* why = nullptr);

    // After a failed open: whether the file may be an encrypted bank.
    const OpenReport& open_report() const { return report_; }
    // Whether the bank was read with a key.
    bool encrypted() const { return file_.encrypted(); }
    // Which file it was read from (not known for memory).
    BankFile::Identity file_identity() const { return file_.identity(); }
    // Where in the file the bank holding subsound `index` starts.
    std::uint64_t part_offset(int index) const { return part_of(index).start; }

    int count() const { return records_ ? static_cast<int>(records_->size()) : 0; }
    // What opening noticed without failing, one note per line.
    const std::vector<BankNote>& notes() const { return notes_; }
    // The same, one per line.
    const std::string& notes_text() const { return notes_text_; }

    FMOD_SOUND* subsound(int index);
    // A second handle's subsound is done with: its memory goes (the first
    // handle's subsounds live as long as their bank).
    void release_subsound(const FMOD_SOUND* handle);
    // The index of one of this bank's subsound handles; -1 for anything else.
    int index_of(const FMOD_SOUND* handle) const;

    SubsoundInfo info(int index);
    std::string name(int index);

    // The stream of a subsound, opened on first use. Only a few stay open at
    // a time, so memory does not grow with the number of subsounds; one
    // closed early is reopened when it is used again.
    PcmStream* stream(int index, FMOD_RESULT& code);

    // The stored units of a subsound, opened on first use; one closed early
    // (more subsounds were worked on meanwhile) is walked again up to where
    // it stood. For Vorbis, *identification and *setup (may be null) are
    // the headers a stream of its packets needs, valid while the bank lives.
    StoredUnits* stored(int index, FMOD_RESULT& code, const ByteVector** identification = nullptr,
                        const ByteVector** setup = nullptr);

    // Damage met so far in a subsound's data by its last kind of read,
    // decoded or stored (nothing when it is not open).
    const DamageReport* damage(int index) const;

    // What the bank writer rebuilds from: the file, the banks found in it,
    // each subsound's record, and whether the file was scanned for them.
    BankFile& file() { return file_; }
    const std::vector<BankPart>& parts() const { return parts_; }
    const std::vector<SubsoundRecord>& records() const { return *records_; }
    bool scanned() const { return scanned_; }

    // The reason behind a subsound's last failure.
    void set_detail(int index, std::string text);
    const std::string& detail(int index) const;

private:
    BankReadError read_banks(const OpenOptions& options);
    const BankPart& part_of(int index) const;
    // The entry of a subsound among the ones being worked on, described now
    // if it is not.
    struct Active {
        int index = -1;
        SubsoundInfo info;
        std::unique_ptr<PcmStream> stream;
        std::unique_ptr<StoredUnits> stored;
        const ByteVector* identification = nullptr;
        const ByteVector* setup = nullptr;
        bool stored_last = false;  // the last read was of the stored units
    };
    Active& activate(int index);

    BankFile file_;
    std::string name_;
    std::vector<BankPart> parts_;
    std::shared_ptr<const std::vector<SubsoundRecord>> records_;
    std::vector<FMOD_SOUND> handles_;
    // A second handle's subsounds, made when asked for (see open_same).
    struct LazyHandle {
        FMOD_SOUND sound;
        std::uint32_t index;
    };
    bool lazy_handles_ = false;
    std::unordered_map<std::uint32_t, LazyHandle> lazy_;
    std::vector<BankNote> notes_;
    std::string notes_text_;
    OpenReport report_;
    bool scanned_ = false;
    // Before the streams: their decoders may use it until they go.
    CodecCache own_cache_;
    CodecCache* cache_ = &own_cache_;
    std::deque<Active> active_;
    // Stored walks closed early, by subsound: the units they had given.
    // Only subsounds a caller left half read are here.
    std::map<int, std::uint64_t> stored_resume_;
    int detail_index_ = -1;
    std::string detail_;
};

}  // namespace soundlib
