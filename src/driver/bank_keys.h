// Keys for encrypted banks: where the tool finds them, how it hands them to
// the sound library, and what it tells a user who gave none that fits.
// A key is never printed.
#pragma once

#include <string>
#include <vector>

#include "soundlib/soundlib.h"

// The keys to try on the bank at `bank_path` (the path as the open takes
// it), the first source that has any: the keys given on the command line;
// the environment variable BANKRIP_KEY when set and not empty; the bytes of
// a file .fsbkey in the bank's folder, one final line break dropped.
std::vector<std::string> bank_keys(const std::string& bank_path, const std::vector<std::string>& given_keys);

// How to give a key, for messages: "set BANKRIP_KEY or ...".
std::string key_hint(bool options_form);

// After a failed open: what to add to its reason when the file may be an
// encrypted bank and no key was tried ("; to give its key, ..."; also when a
// .fsbkey beside `bank_path` was too large to be taken as a key); else empty.
std::string encryption_advice(FMOD_SYSTEM* system, bool options_form, const std::string& bank_path);

// Extra information for FMOD_System_CreateSound that carries the keys; it
// points into `keys`, which must outlive it.
class KeyExinfo {
public:
    explicit KeyExinfo(const std::vector<std::string>& keys);
    KeyExinfo(const KeyExinfo&) = delete;
    KeyExinfo& operator=(const KeyExinfo&) = delete;

    // Null when there are no keys. `length` is left 0 for the caller to set
    // with FMOD_OPENMEMORY.
    FMOD_CREATESOUNDEXINFO* get() { return pointers_.empty() ? nullptr : &exinfo_; }

private:
    std::vector<const char*> pointers_;
    std::vector<unsigned int> lengths_;
    FMOD_CREATESOUNDEXINFO exinfo_{};
};
