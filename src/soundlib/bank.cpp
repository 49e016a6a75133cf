#include "soundlib/bank.h"

#include <algorithm>

#include "soundlib/codec/decoder_factory.h"

namespace soundlib {

namespace {
constexpr std::size_t kMaxOpenStreams = 2;
}

Bank::Bank(const std::string& path, BankReadError& error) {
    std::string why;
    switch (file_.open(path, &why)) {
        case BankFile::OpenError::none:
            break;
        case BankFile::OpenError::not_found:
            error = {FMOD_ERR_FILE_NOTFOUND, path + ": " + why};
            return;
        case BankFile::OpenError::other:
            error = {FMOD_ERR_FILE_BAD, path + ": " + why};
            return;
    }
    error = read_bank(file_, infos_);
    if (error.code != FMOD_OK) {
        error.detail = path + ": " + error.detail;
        infos_.clear();
        return;
    }
    handles_.resize(infos_.size());
}

Bank::~Bank() = default;

FMOD_SOUND* Bank::subsound(int index) {
    auto& handle = handles_[static_cast<std::size_t>(index)];
    if (!handle) {
        handle = std::make_unique<FMOD_SOUND>();
        handle->bank = this;
        handle->index = index;
    }
    return handle.get();
}

std::string Bank::name(int index) {
    const FileSpan span = info(index).name;
    char buffer[256];
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(span.size, sizeof buffer));
    const std::size_t got = span.size ? file_.read_at(span.offset, buffer, want) : 0;
    const char* end = std::find(buffer, buffer + got, '\0');
    return std::string(buffer, static_cast<std::size_t>(end - buffer));
}

PcmStream* Bank::stream(FMOD_SOUND& sound, FMOD_RESULT& code) {
    code = FMOD_OK;
    if (sound.stream) return sound.stream.get();
    const SubsoundInfo& s = info(sound.index);
    DecoderChoice choice = make_decoder(s, file_, cache_);
    if (!choice.source) {
        code = choice.code;
        sound.detail = choice.detail;
        return nullptr;
    }
    if (open_streams_.size() >= kMaxOpenStreams) {
        open_streams_.front()->stream.reset();
        open_streams_.pop_front();
    }
    sound.stream = std::make_unique<PcmStream>(std::move(choice.source), output_format(s), s.frames);
    open_streams_.push_back(&sound);
    return sound.stream.get();
}

}  // namespace soundlib
