// An open bank: its file, the descriptions of its subsounds, their handles,
// and the decoders currently open on them.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "soundlib/bank/bank_reader.h"
#include "soundlib/codec/codec_cache.h"
#include "soundlib/codec/pcm_stream.h"
#include "soundlib/io/bank_file.h"
#include "soundlib/soundlib.h"

namespace soundlib {
class Bank;
}

// A handle the library gives out: the bank itself (index -1) or one of its
// subsounds.
struct FMOD_SOUND {
    static constexpr std::uint32_t kMagic = 0x534e4442;  // guards against stray pointers
    std::uint32_t magic = kMagic;
    soundlib::Bank* bank = nullptr;
    int index = -1;
    std::unique_ptr<soundlib::PcmStream> stream;  // open while the bank keeps it so
    std::uint64_t position = 0;                   // frames; where the next read starts
    std::string detail;                           // the reason behind the last failure
};

namespace soundlib {

class Bank {
public:
    // On failure `error` says why and the bank is not usable.
    Bank(const std::string& path, BankReadError& error);
    ~Bank();

    int count() const { return static_cast<int>(infos_.size()); }
    const SubsoundInfo& info(int index) const { return infos_[static_cast<std::size_t>(index)]; }
    FMOD_SOUND* subsound(int index);
    std::string name(int index);

    // The stream of a subsound, opened on first use. Only a few stay open at
    // a time, so memory does not grow with the number of subsounds; one
    // closed early is reopened, at its position, when it is used again.
    PcmStream* stream(FMOD_SOUND& sound, FMOD_RESULT& code);

private:
    BankFile file_;
    std::vector<SubsoundInfo> infos_;
    CodecCache cache_;  // before the handles: their decoders may use it until they go
    std::vector<std::unique_ptr<FMOD_SOUND>> handles_;
    std::deque<FMOD_SOUND*> open_streams_;
};

}  // namespace soundlib
