// The setup headers Vorbis subsounds need, found by CRC and kept for the
// life of the cache (the system's: the whole run). At the tabulated rates
// the table says which step to generate; at others a search generates steps
// until the CRC turns up, within a budget for the whole cache, so that no
// bank, nor a folder of them, can make us generate set-ups for minutes; a
// rate searched through is not searched again.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

#include "soundlib/codec/vorbis/vorbis_setup.h"

namespace soundlib {

// Steps a search may generate over the life of a cache: 0.05 to 0.2 ms
// each, so well under a second; four rates searched through. A build may
// set another (the fuzz build lowers it).
#ifndef SOUNDLIB_VORBIS_SEARCH_BUDGET
#define SOUNDLIB_VORBIS_SEARCH_BUDGET 400
#endif
inline constexpr int kVorbisSearchBudget = SOUNDLIB_VORBIS_SEARCH_BUDGET;

class VorbisSetupCache {
public:
    // The setup header with this CRC, or null when none is made (or the
    // search budget ran out first: see search_cut_short). The pointer stays
    // valid as long as the cache.
    const VorbisSetup* find(std::uint32_t channels, std::uint32_t rate, std::uint32_t crc);

    // Whether the last find that gave null stopped for the budget before it
    // had tried every step.
    bool search_cut_short() const { return cut_short_; }

    // How many steps have been generated so far (each gives the stock
    // set-up and the variant's).
    int steps_generated() const { return steps_generated_; }

private:
    struct Candidate {
        std::uint32_t crc;
        int step;
        VorbisVariant variant;
    };
    // The search at a rate the table does not cover.
    struct Search {
        int tried = 0;  // steps generated so far, in search order
        std::vector<Candidate> seen;  // distinct headers only; their bytes are not kept
    };
    using Key = std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>;  // channels, rate, CRC

    const VorbisSetup* search(std::uint32_t channels, std::uint32_t rate, std::uint32_t crc);
    const VorbisSetup* generate(std::uint32_t channels, std::uint32_t rate, const Candidate& c);
    const VorbisSetup* keep(std::uint32_t channels, std::uint32_t rate, VorbisSetup&& setup);

    std::map<Key, std::unique_ptr<VorbisSetup>> found_;
    std::map<std::pair<std::uint32_t, std::uint32_t>, Search> searches_;
    int steps_generated_ = 0;
    int budget_left_ = kVorbisSearchBudget;
    bool cut_short_ = false;
};

}  // namespace soundlib
