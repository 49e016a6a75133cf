#include "soundlib/bank/bank_notes.h"

#include <cstring>

namespace soundlib {

void NoteLog::add(const char* kind, BankNote note) {
    Kind* k = nullptr;
    for (Kind& existing : kinds_) {
        if (std::strcmp(existing.name, kind) == 0) k = &existing;
    }
    if (!k) k = &kinds_.emplace_back(Kind{kind});
    if (++k->seen <= kShownPerKind) {
        notes_.push_back(std::move(note));
    } else {
        k->damage = k->damage || note.damage;
    }
}

void NoteLog::finish() {
    for (Kind& k : kinds_) {
        if (k.seen <= kShownPerKind) continue;
        notes_.push_back({"and " + std::to_string(k.seen - kShownPerKind) + " more " + k.name, k.damage});
        k.seen = kShownPerKind;  // said once
    }
}

}  // namespace soundlib
