// What the options form says about each bank and sound: a text listing
// (--list) and a JSON document (--json), fed by the same facts.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "wav/output_name.h"  // printable_name

struct SoundFacts {
    int index = 0;
    std::string name;   // as the bank gives it
    std::string codec;  // PCM16, VORBIS, ...
    int channels = 0;
    unsigned int rate = 0;
    unsigned int frames = 0;
    bool loops = false;
    unsigned int loop_start = 0;
    unsigned int loop_end = 0;  // the last frame of the loop
    std::uint64_t bank_offset = 0;
    bool show_bank_offset = false;
    // Named after a Unity AudioClip: the serialized file that holds it and
    // its path ID there.
    bool named_by_clip = false;
    std::string name_file;
    std::int64_t name_path_id = 0;
    std::string output;  // the file written, or that would be written
    const char* format = "wav";  // of that file: wav, flac, ogg, mp3
    const char* status = "listed";  // written, written in part, not written, listed
};

struct BankFacts {
    std::string path;
    bool encrypted = false;
    std::string error;  // why the bank could not be read; empty when it was
};

// One line per sound, under a line naming the bank.
class TextListing {
public:
    explicit TextListing(std::FILE* out) : out_(out) {}
    void begin_bank(const BankFacts& bank, int sounds);
    void sound(const SoundFacts& sound);

private:
    std::FILE* out_;
    std::uint64_t part_offset_ = 0;
};

// {"banks": [{"path": P, "sounds": [{...}, ...]}, ...]}, written as it goes
// so that memory does not grow with the number of sounds.
class JsonListing {
public:
    explicit JsonListing(std::FILE* out) : out_(out) {}
    void begin_bank(const BankFacts& bank);
    void sound(const SoundFacts& sound);
    void end_bank();
    void finish();

private:
    std::FILE* out_;
    bool started_ = false;
    bool any_bank_ = false;
    bool any_sound_ = false;
};

// After the last of a listing: flushes `out` and gives the system's error
// code of the first write of a listing that failed; 0 when all went out.
int listing_write_error(std::FILE* out);
