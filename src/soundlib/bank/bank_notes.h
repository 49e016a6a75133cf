// The notes the container reader makes, bounded: a hostile file can repeat
// the same oddity millions of times, so each kind is said ten times at most
// and then counted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace soundlib {

// Something found while reading a file that does not stop the reading of it.
// `damage` is set when sounds of the file may have been lost to it.
struct BankNote {
    std::string text;
    bool damage = false;
};

class NoteLog {
public:
    static constexpr std::size_t kShownPerKind = 10;

    explicit NoteLog(std::vector<BankNote>& notes) : notes_(notes) {}

    // `kind` names what is repeated, in the plural ("\"SND \" chunks that do
    // not hold an FSB bank"), for the line that counts the ones not shown.
    void add(const char* kind, BankNote note);

    // Adds one line per kind that had notes left out, saying how many.
    void finish();

private:
    struct Kind {
        const char* name;
        std::uint64_t seen = 0;
        bool damage = false;  // among the ones left out
    };
    std::vector<BankNote>& notes_;
    std::vector<Kind> kinds_;
};

}  // namespace soundlib
