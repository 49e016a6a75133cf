// Names for the banks of a Unity resource file, from the AudioClip objects
// of the serialized files in its folder: a clip's m_Resource gives the
// resource file's name and the offset and size of the clip's FSB5 bank in
// it. The folder's serialized files are read once per run.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "unity/serialized_file.h"

struct ClipName {
    std::string name;  // m_Name
    std::string file;  // the serialized file that holds the clip, by its name in the folder
    std::int64_t path_id = 0;
};

struct ResourceNames {
    std::map<std::uint64_t, ClipName> by_offset;  // a bank's offset in the file: the clip naming it
    std::string said;  // one line about where the names came from; empty: nothing to say
};

class UnityNames {
public:
    // The names for the banks of the file at `path`, whose first bytes are
    // an FSB5 bank's. Each clip is checked against the file: an FSB5 bank
    // of exactly the clip's size must start at the clip's offset.
    ResourceNames names_for(const std::string& path);

private:
    struct Clip {
        std::string file;
        unity::AudioClip clip;
    };
    struct Folder {
        std::vector<std::string> files;  // the serialized files read
        std::vector<std::string> unreadable;  // "name: reason", for those that did not read
        std::vector<Clip> clips;
    };
    const Folder& folder(const std::string& path);
    std::map<std::string, std::unique_ptr<Folder>> folders_;
};

// The file name of a path, after its last separator.
std::string path_file_name(const std::string& path);
