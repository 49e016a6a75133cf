// FLAC replacements through libFLAC's stream decoder, fed from our own file
// reader (UTF-8 names everywhere): one block decoded at a time. The loop is
// the LOOPSTART / LOOPLENGTH tags the tool's FLAC files carry.
#include <FLAC/stream_decoder.h>

#include <algorithm>
#include <cstring>

#include "soundlib/io/bank_file.h"
#include "soundlib/replace/replacement_input.h"

namespace soundlib {

namespace {

bool tag_value(const FLAC__StreamMetadata_VorbisComment_Entry& e, const char* name, std::uint64_t& value) {
    const std::size_t n = std::strlen(name);
    if (e.length <= n + 1 || e.entry[n] != '=') return false;
    for (std::size_t i = 0; i < n; ++i) {
        char c = static_cast<char>(e.entry[i]);
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != name[i]) return false;
    }
    std::uint64_t v = 0;
    for (std::size_t i = n + 1; i < e.length; ++i) {
        const char c = static_cast<char>(e.entry[i]);
        if (c < '0' || c > '9' || v > (UINT64_MAX - 9) / 10) return false;
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
    }
    value = v;
    return true;
}

class FlacReplacement final : public ReplacementInput {
public:
    ~FlacReplacement() override {
        if (decoder_) FLAC__stream_decoder_delete(decoder_);
    }

    bool open(const std::string& path, std::string& why) {
        std::string open_why;
        if (file_.open(path, &open_why) != BankFile::OpenError::none) {
            why = open_why;
            return false;
        }
        decoder_ = FLAC__stream_decoder_new();
        if (!decoder_) {
            why = "libFLAC could not start a decoder";
            return false;
        }
        FLAC__stream_decoder_set_metadata_respond(decoder_, FLAC__METADATA_TYPE_VORBIS_COMMENT);
        if (FLAC__stream_decoder_init_stream(decoder_, read_cb, seek_cb, tell_cb, length_cb, eof_cb, write_cb,
                                             metadata_cb, error_cb, this) != FLAC__STREAM_DECODER_INIT_STATUS_OK ||
            !FLAC__stream_decoder_process_until_end_of_metadata(decoder_) || !have_info_) {
            why = error_.empty() ? "not a FLAC file that can be read (no stream information)" : error_;
            return false;
        }
        shape_.format = InputFormat::flac;
        if (shape_.channels == 0 || shape_.rate == 0) {
            why = "its stream information says 0 channels or a rate of 0 Hz";
            return false;
        }
        if (shape_.frames == 0) {
            // A stream that does not say its length: counted by decoding it.
            std::uint64_t counted = 0;
            while (next_block()) counted += held_frames();
            if (!error_.empty()) {
                why = error_;
                return false;
            }
            shape_.frames = counted;
            if (!rewind()) {
                why = "it cannot be read again from its start";
                return false;
            }
        }
        if (has_start_ && has_length_ && length_ > 0 && start_ + length_ <= shape_.frames) {
            shape_.has_loop = true;
            shape_.loop_start = static_cast<std::uint32_t>(start_);
            shape_.loop_end = static_cast<std::uint32_t>(start_ + length_ - 1);
        } else if (has_start_ || has_length_) {
            why = "its LOOPSTART / LOOPLENGTH tags do not give a loop inside its " + std::to_string(shape_.frames) +
                  " frames";
            return false;
        }
        return true;
    }

    bool read(std::uint32_t count, std::vector<double>& out) override {
        const std::size_t want = std::size_t{count} * shape_.channels;
        out.resize(want);
        std::size_t got = 0;
        while (got < want) {
            if (taken_ == held_.size()) {
                held_.clear();
                taken_ = 0;
                if (!next_block()) return false;
            }
            const std::size_t n = std::min(want - got, held_.size() - taken_);
            std::copy_n(held_.begin() + static_cast<std::ptrdiff_t>(taken_), n, out.begin() + static_cast<std::ptrdiff_t>(got));
            taken_ += n;
            got += n;
        }
        return true;
    }

    bool rewind() override {
        held_.clear();
        taken_ = 0;
        error_.clear();
        return FLAC__stream_decoder_seek_absolute(decoder_, 0) ||
               (FLAC__stream_decoder_reset(decoder_) && FLAC__stream_decoder_process_until_end_of_metadata(decoder_));
    }

private:
    std::size_t held_frames() const { return held_.size() / shape_.channels; }

    // Decodes the next block into held_ (after what is held); false at the end or on damage.
    bool next_block() {
        const std::size_t before = held_.size();
        while (held_.size() == before) {
            if (FLAC__stream_decoder_get_state(decoder_) == FLAC__STREAM_DECODER_END_OF_STREAM) return false;
            if (!FLAC__stream_decoder_process_single(decoder_) || !error_.empty()) {
                if (error_.empty()) error_ = "libFLAC could not decode it";
                return false;
            }
        }
        return true;
    }

    static FlacReplacement& self(void* data) { return *static_cast<FlacReplacement*>(data); }

    static FLAC__StreamDecoderReadStatus read_cb(const FLAC__StreamDecoder*, FLAC__byte buffer[], size_t* bytes,
                                                 void* data) {
        FlacReplacement& s = self(data);
        const std::uint64_t left = s.file_.size() - std::min(s.pos_, s.file_.size());
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(*bytes, left));
        if (n == 0) {
            *bytes = 0;
            return FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
        }
        if (!s.file_.read_exact(s.pos_, buffer, n)) return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
        s.pos_ += n;
        *bytes = n;
        return FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
    }
    static FLAC__StreamDecoderSeekStatus seek_cb(const FLAC__StreamDecoder*, FLAC__uint64 offset, void* data) {
        FlacReplacement& s = self(data);
        if (offset > s.file_.size()) return FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
        s.pos_ = offset;
        return FLAC__STREAM_DECODER_SEEK_STATUS_OK;
    }
    static FLAC__StreamDecoderTellStatus tell_cb(const FLAC__StreamDecoder*, FLAC__uint64* offset, void* data) {
        *offset = self(data).pos_;
        return FLAC__STREAM_DECODER_TELL_STATUS_OK;
    }
    static FLAC__StreamDecoderLengthStatus length_cb(const FLAC__StreamDecoder*, FLAC__uint64* length, void* data) {
        *length = self(data).file_.size();
        return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
    }
    static FLAC__bool eof_cb(const FLAC__StreamDecoder*, void* data) {
        FlacReplacement& s = self(data);
        return s.pos_ >= s.file_.size();
    }
    static FLAC__StreamDecoderWriteStatus write_cb(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                                   const FLAC__int32* const buffer[], void* data) {
        FlacReplacement& s = self(data);
        if (frame->header.channels != s.shape_.channels) {
            s.error_ = "its channels change inside the stream";
            return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
        }
        const double scale = 1.0 / static_cast<double>(std::uint64_t{1} << (s.shape_.bits - 1));
        const std::size_t at = s.held_.size();
        s.held_.resize(at + std::size_t{frame->header.blocksize} * s.shape_.channels);
        double* p = s.held_.data() + at;
        for (unsigned i = 0; i < frame->header.blocksize; ++i) {
            for (std::uint32_t c = 0; c < s.shape_.channels; ++c) *p++ = buffer[c][i] * scale;
        }
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }
    static void metadata_cb(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* m, void* data) {
        FlacReplacement& s = self(data);
        if (m->type == FLAC__METADATA_TYPE_STREAMINFO) {
            s.have_info_ = true;
            s.shape_.channels = m->data.stream_info.channels;
            s.shape_.rate = m->data.stream_info.sample_rate;
            s.shape_.bits = static_cast<int>(m->data.stream_info.bits_per_sample);
            s.shape_.frames = m->data.stream_info.total_samples;
        } else if (m->type == FLAC__METADATA_TYPE_VORBIS_COMMENT) {
            const auto& vc = m->data.vorbis_comment;
            for (FLAC__uint32 i = 0; i < vc.num_comments; ++i) {
                if (tag_value(vc.comments[i], "LOOPSTART", s.start_)) s.has_start_ = true;
                if (tag_value(vc.comments[i], "LOOPLENGTH", s.length_)) s.has_length_ = true;
            }
        }
    }
    static void error_cb(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus status, void* data) {
        FlacReplacement& s = self(data);
        if (s.error_.empty()) {
            s.error_ = std::string("damaged FLAC data (") + FLAC__StreamDecoderErrorStatusString[status] + ")";
        }
    }

    BankFile file_;
    std::uint64_t pos_ = 0;
    FLAC__StreamDecoder* decoder_ = nullptr;
    bool have_info_ = false;
    bool has_start_ = false, has_length_ = false;
    std::uint64_t start_ = 0, length_ = 0;
    std::vector<double> held_;  // one decoded block, interleaved
    std::size_t taken_ = 0;
    std::string error_;
};

}  // namespace

std::unique_ptr<ReplacementInput> open_flac_replacement(const std::string& path, std::string& why) {
    auto flac = std::make_unique<FlacReplacement>();
    if (!flac->open(path, why)) return nullptr;
    return flac;
}

}  // namespace soundlib
