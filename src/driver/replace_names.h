// Which file of a --replace folder stands for which sound: the name the
// unpack gives the sound, with the extension of any format read back
// (.wav, .flac, .ogg, .mp3). Repeated names are numbered as the unpack
// numbers them, which depends on the formats it wrote (with --keep-original
// an .ogg and a .wav of one name are not repeats), so the names are made for
// each way of unpacking and the folder is matched by the one whose own
// names most of its files have (then: that claims most of them).
#pragma once

#include <map>
#include <string>
#include <vector>

struct ReplaceMatch {
    std::size_t style = 0;                          // which list of names matched
    std::map<int, std::string> file_of;             // sound index -> file name
    std::map<int, std::vector<std::string>> doubled;  // sounds given two files or more
    std::vector<std::string> unmatched;             // files of no sound
};

// `names[s][i]`: sound i's file name in the s-th way of unpacking (the
// first is the one preferred when several match alike); `files`: the names
// in the folder.
ReplaceMatch match_replacement_files(const std::vector<std::vector<std::string>>& names,
                                     const std::vector<std::string>& files);

// The extensions a replacement may have.
inline constexpr const char* kReplacementExtensions[] = {".wav", ".flac", ".ogg", ".mp3"};
