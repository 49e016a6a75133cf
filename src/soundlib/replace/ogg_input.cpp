// Ogg Vorbis replacements through libvorbisfile, fed from our own file
// reader. Decoded to 16 bits as the tool decodes a bank's Vorbis sounds, so
// that the .ogg an unpack keeps decodes to the sound's own samples. The loop
// is the LOOPSTART / LOOPLENGTH comments the tool's .ogg files carry.
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cstring>

#include "soundlib/codec/float_to_s16.h"
#include "soundlib/io/bank_file.h"
#include "soundlib/replace/replacement_input.h"

namespace soundlib {

namespace {

bool comment_value(const char* comment, const char* name, std::uint64_t& value) {
    const std::size_t n = std::strlen(name);
    for (std::size_t i = 0; i < n; ++i) {
        char c = comment[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != name[i]) return false;
    }
    if (comment[n] != '=' || comment[n + 1] == '\0') return false;
    std::uint64_t v = 0;
    for (const char* p = comment + n + 1; *p; ++p) {
        if (*p < '0' || *p > '9' || v > (UINT64_MAX - 9) / 10) return false;
        v = v * 10 + static_cast<std::uint64_t>(*p - '0');
    }
    value = v;
    return true;
}

class OggReplacement final : public ReplacementInput {
public:
    ~OggReplacement() override {
        if (opened_) ov_clear(&vf_);
    }

    bool open(const std::string& path, std::string& why) {
        std::string open_why;
        if (file_.open(path, &open_why) != BankFile::OpenError::none) {
            why = open_why;
            return false;
        }
        const ov_callbacks callbacks{read_cb, seek_cb, nullptr, tell_cb};
        if (ov_open_callbacks(this, &vf_, nullptr, 0, callbacks) != 0) {
            why = "not an Ogg Vorbis file that can be read";
            return false;
        }
        opened_ = true;
        if (ov_streams(&vf_) != 1) {
            why = "it chains " + std::to_string(ov_streams(&vf_)) + " Vorbis streams; one is taken";
            return false;
        }
        const vorbis_info* info = ov_info(&vf_, 0);
        const ogg_int64_t total = ov_pcm_total(&vf_, 0);
        if (!info || info->channels <= 0 || info->rate <= 0 || total < 0) {
            why = "its Vorbis stream gives no channels, rate or length";
            return false;
        }
        shape_.format = InputFormat::ogg;
        shape_.channels = static_cast<std::uint32_t>(info->channels);
        shape_.rate = static_cast<std::uint32_t>(info->rate);
        shape_.frames = static_cast<std::uint64_t>(total);
        std::uint64_t start = 0, length = 0;
        bool has_start = false, has_length = false;
        if (const vorbis_comment* vc = ov_comment(&vf_, 0)) {
            for (int i = 0; i < vc->comments; ++i) {
                if (comment_value(vc->user_comments[i], "LOOPSTART", start)) has_start = true;
                if (comment_value(vc->user_comments[i], "LOOPLENGTH", length)) has_length = true;
            }
        }
        if (has_start && has_length && length > 0 && start + length <= shape_.frames) {
            shape_.has_loop = true;
            shape_.loop_start = static_cast<std::uint32_t>(start);
            shape_.loop_end = static_cast<std::uint32_t>(start + length - 1);
        } else if (has_start || has_length) {
            why = "its LOOPSTART / LOOPLENGTH comments do not give a loop inside its " +
                  std::to_string(shape_.frames) + " frames";
            return false;
        }
        return true;
    }

    bool read(std::uint32_t count, std::vector<double>& out) override {
        const std::uint32_t channels = shape_.channels;
        out.resize(std::size_t{count} * channels);
        for (std::uint32_t got = 0; got < count;) {
            float** pcm = nullptr;
            int section = 0;
            const long n = ov_read_float(&vf_, &pcm, static_cast<int>(count - got), &section);
            if (n <= 0 || section != 0) return false;
            for (long i = 0; i < n; ++i) {
                for (std::uint32_t c = 0; c < channels; ++c) {
                    out[(std::size_t{got} + static_cast<std::size_t>(i)) * channels + c] = float_to_s16(pcm[c][i]) / 32768.0;
                }
            }
            got += static_cast<std::uint32_t>(n);
        }
        return true;
    }

    bool rewind() override { return ov_pcm_seek(&vf_, 0) == 0; }

private:
    static OggReplacement& self(void* data) { return *static_cast<OggReplacement*>(data); }

    static size_t read_cb(void* ptr, size_t size, size_t count, void* data) {
        OggReplacement& s = self(data);
        if (size == 0) return 0;
        const std::uint64_t left = s.file_.size() - std::min(s.pos_, s.file_.size());
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(size * count, left / size * size));
        if (n == 0 || !s.file_.read_exact(s.pos_, ptr, n)) return 0;
        s.pos_ += n;
        return n / size;
    }
    static int seek_cb(void* data, ogg_int64_t offset, int whence) {
        OggReplacement& s = self(data);
        const auto size = static_cast<ogg_int64_t>(s.file_.size());
        const ogg_int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? static_cast<ogg_int64_t>(s.pos_) : size;
        const ogg_int64_t to = base + offset;
        if (to < 0 || to > size) return -1;
        s.pos_ = static_cast<std::uint64_t>(to);
        return 0;
    }
    static long tell_cb(void* data) { return static_cast<long>(self(data).pos_); }

    BankFile file_;
    std::uint64_t pos_ = 0;
    OggVorbis_File vf_{};
    bool opened_ = false;
};

}  // namespace

std::unique_ptr<ReplacementInput> open_ogg_replacement(const std::string& path, std::string& why) {
    auto ogg = std::make_unique<OggReplacement>();
    if (!ogg->open(path, why)) return nullptr;
    return ogg;
}

}  // namespace soundlib
