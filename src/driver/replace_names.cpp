#include "driver/replace_names.h"

#include <set>

namespace {

// The name without the extension the unpack gave it.
std::string stem_of(const std::string& name) {
    for (const char* ext : kReplacementExtensions) {
        const std::string e(ext);
        if (name.size() > e.size() && name.compare(name.size() - e.size(), e.size(), e) == 0) {
            return name.substr(0, name.size() - e.size());
        }
    }
    return name;
}

struct Claim {
    int index = 0;
    bool exact = false;  // the very name the unpack gives
};

// Every name that stands for a sound in one way of unpacking: its own, and
// its stem with each extension where no other sound claims that name.
std::map<std::string, Claim> claims(const std::vector<std::string>& names) {
    std::map<std::string, Claim> exact;
    for (std::size_t i = 0; i < names.size(); ++i) exact.emplace(names[i], Claim{static_cast<int>(i), true});
    std::map<std::string, Claim> other;
    std::set<std::string> shared;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string stem = stem_of(names[i]);
        for (const char* ext : kReplacementExtensions) {
            const std::string name = stem + ext;
            if (exact.contains(name)) continue;
            const auto [it, fresh] = other.emplace(name, Claim{static_cast<int>(i), false});
            if (!fresh && it->second.index != static_cast<int>(i)) shared.insert(name);
        }
    }
    for (const std::string& name : shared) other.erase(name);
    exact.merge(other);
    return exact;
}

}  // namespace

ReplaceMatch match_replacement_files(const std::vector<std::vector<std::string>>& names,
                                     const std::vector<std::string>& files) {
    // The way whose own names the most files have, then the one that
    // claims the most: with --keep-original, "a.ogg" and "a.wav" are two
    // sounds' own names, where a WAV unpack's "a.wav" would claim both.
    std::size_t best = 0;
    std::pair<std::size_t, std::size_t> best_score{0, 0};
    std::vector<std::map<std::string, Claim>> claimed;
    for (std::size_t s = 0; s < names.size(); ++s) {
        claimed.push_back(claims(names[s]));
        std::pair<std::size_t, std::size_t> score{0, 0};
        for (const std::string& f : files) {
            const auto it = claimed.back().find(f);
            if (it == claimed.back().end()) continue;
            score.first += it->second.exact;
            ++score.second;
        }
        if (score > best_score) {
            best = s;
            best_score = score;
        }
    }
    ReplaceMatch match;
    match.style = best;
    std::map<int, std::vector<std::string>> given;
    for (const std::string& f : files) {
        const auto it = claimed.empty() ? std::map<std::string, Claim>::const_iterator{} : claimed[best].find(f);
        if (claimed.empty() || it == claimed[best].end()) {
            match.unmatched.push_back(f);
        } else {
            given[it->second.index].push_back(f);
        }
    }
    for (auto& [index, list] : given) {
        if (list.size() == 1) {
            match.file_of[index] = list.front();
        } else {
            match.doubled[index] = std::move(list);
        }
    }
    return match;
}
