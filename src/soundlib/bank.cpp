#include "soundlib/bank.h"

#include <algorithm>

#include "soundlib/codec/decoder_factory.h"

namespace soundlib {

namespace {
constexpr std::size_t kMaxActive = 2;
}

BankReadError Bank::open(const std::string& path, const OpenOptions& options) {
    name_ = path;
    std::string why;
    switch (file_.open(path, &why, options.follow_links)) {
        case BankFile::OpenError::none:
            return read_banks(options);
        case BankFile::OpenError::not_found:
            return {FMOD_ERR_FILE_NOTFOUND, path + ": " + why};
        case BankFile::OpenError::other:
            break;
    }
    return {FMOD_ERR_FILE_BAD, path + ": " + why};
}

BankReadError Bank::open_memory(const void* data, std::uint64_t size, const std::string& name,
                                const OpenOptions& options) {
    name_ = name;
    file_.open_memory(data, size);
    return read_banks(options);
}

bool Bank::open_same(const Bank& other, std::string* why) {
    if (!file_.open_same(other.file_, why)) return false;
    name_ = other.name_;
    parts_ = other.parts_;
    scanned_ = other.scanned_;
    records_ = other.records_;  // read-only once made: shared, not copied
    notes_ = other.notes_;
    notes_text_ = other.notes_text_;
    cache_ = other.cache_ == &other.own_cache_ ? &own_cache_ : other.cache_;
    // A second handle's subsounds are made as they are asked for, so that
    // many of them (one per worker) cost little more than one.
    lazy_handles_ = true;
    return true;
}

BankReadError Bank::read_banks(const OpenOptions& options) {
    std::vector<SubsoundRecord> records;
    scanned_ = options.scan;
    BankReadError error = locate_banks(file_, parts_, notes_, options, &report_);
    if (error.code == FMOD_OK) {
        // Every part's count is checked against its header region, so this
        // is bounded by the file's real bytes.
        std::uint64_t total = 0;
        for (const BankPart& p : parts_) total += p.count;
        if (total > 0x7FFFFFFF) {
            error = {FMOD_ERR_FILE_BAD, "the file's banks hold more subsounds than can be counted"};
        } else {
            records.reserve(static_cast<std::size_t>(total));
        }
    }
    std::size_t kept = 0;
    NoteLog log(notes_);
    for (std::size_t i = 0; error.code == FMOD_OK && i < parts_.size(); ++i) {
        BankPart& part = parts_[i];
        part.first_index = static_cast<std::uint32_t>(records.size());
        BankReadError walk = walk_subsounds(file_, part, records);
        if (walk.code == FMOD_OK) {
            parts_[kept++] = part;
            continue;
        }
        if (i == 0 && !options.scan) {
            error = walk;
            break;
        }
        records.resize(part.first_index);
        if (options.scan) {
            // A scan only guessed at this bank: drop it, keep the others.
            log.add("damaged banks found by the scan",
                    {"the bank at offset " + std::to_string(part.start) + " is damaged (" + walk.detail +
                         "); it is not read",
                     true});
            continue;
        }
        // A damaged bank further in: keep what came before it.
        notes_.push_back({"the bank at offset " + std::to_string(part.start) + " is damaged (" + walk.detail +
                              "); the file is read up to it",
                          true});
        break;
    }
    log.finish();
    parts_.resize(error.code == FMOD_OK ? kept : 0);
    if (error.code == FMOD_OK && options.scan && parts_.empty()) {
        error = {FMOD_ERR_FORMAT, "no bank found in the file reads whole"};
    }
    if (error.code != FMOD_OK) {
        error.detail = name_ + ": " + error.detail;
        parts_.clear();
        records.clear();
        notes_.clear();
        return error;
    }
    for (BankNote& n : notes_) {
        n.text = name_ + ": " + n.text;
        // One note a line: a line break in the file's name would start a
        // line that reads like another note.
        std::string line = n.text;
        std::replace(line.begin(), line.end(), '\n', '_');
        std::replace(line.begin(), line.end(), '\r', '_');
        notes_text_ += line + "\n";
    }
    handles_.assign(records.size(), FMOD_SOUND{FMOD_SOUND::kSubsoundMagic, 0, this});
    records_ = std::make_shared<const std::vector<SubsoundRecord>>(std::move(records));
    return {};
}

int Bank::index_of(const FMOD_SOUND* handle) const {
    if (lazy_handles_) {
        // Made by subsound() below, as the first member of its LazyHandle.
        const auto* lazy = reinterpret_cast<const LazyHandle*>(handle);
        const auto it = lazy_.find(lazy->index);
        return it != lazy_.end() && &it->second.sound == handle ? static_cast<int>(lazy->index) : -1;
    }
    if (handles_.empty() || handle < handles_.data() || handle >= handles_.data() + handles_.size()) return -1;
    return static_cast<int>(handle - handles_.data());
}

FMOD_SOUND* Bank::subsound(int index) {
    if (!lazy_handles_) return &handles_[static_cast<std::size_t>(index)];
    const auto at = static_cast<std::uint32_t>(index);
    LazyHandle& made = lazy_.try_emplace(at, LazyHandle{FMOD_SOUND{FMOD_SOUND::kSubsoundMagic, 0, this}, at})
                           .first->second;
    return &made.sound;
}

void Bank::release_subsound(const FMOD_SOUND* handle) {
    if (!lazy_handles_) return;  // the first handle's subsounds live as long as it
    const int index = index_of(handle);
    if (index < 0) return;
    active_.erase(std::remove_if(active_.begin(), active_.end(), [index](const Active& a) { return a.index == index; }),
                  active_.end());
    lazy_.erase(static_cast<std::uint32_t>(index));
}

const BankPart& Bank::part_of(int index) const {
    // The last part starting at or before the subsound.
    return *(std::upper_bound(parts_.begin(), parts_.end(), static_cast<std::uint32_t>(index),
                              [](std::uint32_t i, const BankPart& p) { return i < p.first_index; }) -
             1);
}

Bank::Active& Bank::activate(int index) {
    for (Active& a : active_) {
        if (a.index == index) return a;
    }
    if (active_.size() >= kMaxActive) {
        const Active& closing = active_.front();
        if (closing.stored && closing.stored->units_given() > 0) {
            stored_resume_[closing.index] = closing.stored->units_given();
        }
        active_.pop_front();
    }
    Active a;
    a.index = index;
    const BankPart& part = part_of(index);
    a.info = describe_subsound(file_, part, static_cast<std::uint32_t>(index) - part.first_index,
                               (*records_)[static_cast<std::size_t>(index)]);
    active_.push_back(std::move(a));
    return active_.back();
}

SubsoundInfo Bank::info(int index) { return activate(index).info; }

std::string Bank::name(int index) {
    const FileSpan span = activate(index).info.name;
    char buffer[256];
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(span.size, sizeof buffer));
    const std::size_t got = span.size ? file_.read_at(span.offset, buffer, want) : 0;
    const char* end = std::find(buffer, buffer + got, '\0');
    return std::string(buffer, static_cast<std::size_t>(end - buffer));
}

PcmStream* Bank::stream(int index, FMOD_RESULT& code) {
    code = FMOD_OK;
    Active& a = activate(index);
    a.stored_last = false;
    if (a.stream) return a.stream.get();
    DecoderChoice choice = make_decoder(a.info, file_, *cache_);
    if (!choice.source) {
        code = choice.code;
        set_detail(index, choice.detail);
        return nullptr;
    }
    a.stream = std::make_unique<PcmStream>(std::move(choice.source), output_format(a.info), a.info.frames);
    return a.stream.get();
}

StoredUnits* Bank::stored(int index, FMOD_RESULT& code, const ByteVector** identification,
                          const ByteVector** setup) {
    code = FMOD_OK;
    Active& a = activate(index);
    if (!a.stored) {
        StoredChoice choice = make_stored_units(a.info, file_, *cache_);
        if (!choice.units) {
            code = choice.code;
            set_detail(index, choice.detail);
            return nullptr;
        }
        a.stored = std::move(choice.units);
        a.identification = choice.identification;
        a.setup = choice.setup;
        if (const auto it = stored_resume_.find(index); it != stored_resume_.end()) {
            // Walked again up to where it stood; the damage is counted afresh.
            const std::uint64_t units = it->second;
            stored_resume_.erase(it);
            std::vector<std::uint8_t> scratch(kMaxStoredUnitBytes);
            std::string ignored;
            while (a.stored->units_given() < units) {
                std::size_t bytes = 0;
                std::uint32_t frames = 0;
                if (a.stored->next(scratch.data(), scratch.size(), bytes, frames, ignored) != FMOD_OK) break;
            }
        }
    }
    a.stored_last = true;
    if (identification) *identification = a.identification;
    if (setup) *setup = a.setup;
    return a.stored.get();
}

const DamageReport* Bank::damage(int index) const {
    for (const Active& a : active_) {
        if (a.index != index) continue;
        if (a.stored && (a.stored_last || !a.stream)) return &a.stored->damage();
        if (a.stream) return &a.stream->damage();
    }
    return nullptr;
}

void Bank::set_detail(int index, std::string text) {
    detail_index_ = index;
    detail_ = std::move(text);
}

const std::string& Bank::detail(int index) const {
    static const std::string none;
    return index == detail_index_ ? detail_ : none;
}

}  // namespace soundlib
