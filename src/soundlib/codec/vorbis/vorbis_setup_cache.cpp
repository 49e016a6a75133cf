#include "soundlib/codec/vorbis/vorbis_setup_cache.h"

#include <vorbis/codec.h>

#include <algorithm>
#include <cstring>

#include "soundlib/codec/vorbis/vorbis_setup_table.h"

namespace soundlib {

namespace {

constexpr int kSteps = 100;

bool tabulated(std::uint32_t channels, std::uint32_t rate) {
    static const bool same_library = std::strcmp(vorbis_version_string(), kVorbisSetupTableLibrary) == 0;
    return same_library && channels >= 1 && channels <= kVorbisTableMaxChannels &&
           std::find(std::begin(kVorbisTableRates), std::end(kVorbisTableRates), rate) != std::end(kVorbisTableRates);
}

}  // namespace

const VorbisSetup* VorbisSetupCache::find(std::uint32_t channels, std::uint32_t rate, std::uint32_t crc) {
    cut_short_ = false;
    if (const auto it = found_.find({channels, rate, crc}); it != found_.end()) return it->second.get();
    if (!tabulated(channels, rate)) return search(channels, rate, crc);

    const auto key = [](const VorbisSetupTableEntry& e) { return std::tuple(e.channels, e.rate, e.crc); };
    const VorbisSetupTableEntry* end = kVorbisSetupTable + kVorbisSetupTableSize;
    const VorbisSetupTableEntry* e = std::lower_bound(
        kVorbisSetupTable, end, std::tuple(static_cast<std::uint8_t>(channels), rate, crc),
        [&](const VorbisSetupTableEntry& a, const auto& b) { return key(a) < b; });
    if (e == end || key(*e) != std::tuple(static_cast<std::uint8_t>(channels), rate, crc)) return nullptr;
    return generate(channels, rate, {crc, e->step, static_cast<VorbisVariant>(e->variant)});
}

const VorbisSetup* VorbisSetupCache::search(std::uint32_t channels, std::uint32_t rate, std::uint32_t crc) {
    auto it = searches_.find({channels, rate});
    if (it == searches_.end()) {
        if (budget_left_ <= 0) {
            cut_short_ = true;
            return nullptr;
        }
        it = searches_.emplace(std::pair(channels, rate), Search{}).first;
    }
    Search& s = it->second;
    for (const Candidate& c : s.seen) {
        if (c.crc == crc) return generate(channels, rate, c);
    }
    while (s.tried < kSteps) {
        if (budget_left_ <= 0) {
            cut_short_ = true;
            return nullptr;
        }
        --budget_left_;
        const int step = vorbis_step_in_search_order(s.tried++);
        std::vector<VorbisSetup> setups = make_vorbis_setups(channels, rate, step);
        ++steps_generated_;
        if (setups.empty()) break;  // libvorbisenc takes a rate and channels at every step or at none
        const VorbisSetup* match = nullptr;
        for (VorbisSetup& setup : setups) {
            const bool seen = std::any_of(s.seen.begin(), s.seen.end(),
                                          [&](const Candidate& c) { return c.crc == setup.crc; });
            if (seen) continue;
            s.seen.push_back({setup.crc, step, setup.variant});
            if (setup.crc == crc) match = keep(channels, rate, std::move(setup));
        }
        if (match) return match;
    }
    s.tried = kSteps;
    return nullptr;
}

const VorbisSetup* VorbisSetupCache::generate(std::uint32_t channels, std::uint32_t rate, const Candidate& c) {
    std::vector<VorbisSetup> setups = make_vorbis_setups(channels, rate, c.step);
    ++steps_generated_;
    for (VorbisSetup& setup : setups) {
        if (setup.variant == c.variant && setup.crc == c.crc) return keep(channels, rate, std::move(setup));
    }
    return nullptr;
}

const VorbisSetup* VorbisSetupCache::keep(std::uint32_t channels, std::uint32_t rate, VorbisSetup&& setup) {
    auto& slot = found_[{channels, rate, setup.crc}];
    slot = std::make_unique<VorbisSetup>(std::move(setup));
    return slot.get();
}

}  // namespace soundlib
