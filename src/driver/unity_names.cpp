#include "driver/unity_names.h"

#include <cstdio>
#include <set>

#include "platform/folders.h"

namespace {

// How many entries of one folder are looked at for serialized files.
constexpr std::size_t kMostEntriesLooked = 20000;

bool is_separator(char c) {
#if defined(_WIN32)
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

std::string folder_of(const std::string& path) {
    for (std::size_t i = path.size(); i > 0; --i) {
        if (is_separator(path[i - 1])) return path.substr(0, i);
    }
    return "";
}

bool ends_with(const std::string& text, const char* end) {
    const std::string e(end);
    return text.size() >= e.size() && text.compare(text.size() - e.size(), e.size(), e) == 0;
}

// Files that are never serialized files: the resource files themselves and
// banks; the second and later parts of a split file are read with the first.
bool passed_over(const std::string& name) {
    if (ends_with(name, ".resource") || ends_with(name, ".resS") || ends_with(name, ".fsb") ||
        ends_with(name, ".bank") || ends_with(name, ".meta") || ends_with(name, ".info")) {
        return true;
    }
    const std::size_t split = name.rfind(".split");
    return split != std::string::npos && name.compare(split, std::string::npos, ".split0") != 0;
}

std::string listed(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i == 4) {
            text += " and " + std::to_string(names.size() - i) + " more";
            break;
        }
        text += (i ? ", " : "") + names[i];
    }
    return text;
}

// The size of the FSB5 bank whose header starts at `offset`, or 0.
std::uint64_t fsb5_size(const unity::ByteSource& file, std::uint64_t offset) {
    unsigned char h[28];
    if (!file.read(offset, h, sizeof h) || h[0] != 'F' || h[1] != 'S' || h[2] != 'B' || h[3] != '5') return 0;
    auto le32 = [&](int at) {
        return std::uint64_t{h[at]} | std::uint64_t{h[at + 1]} << 8 | std::uint64_t{h[at + 2]} << 16 |
               std::uint64_t{h[at + 3]} << 24;
    };
    const std::uint64_t version = le32(4);
    const std::uint64_t header = version == 0 ? 64 : 60;
    return header + le32(12) + le32(16) + le32(20);
}

}  // namespace

std::string path_file_name(const std::string& path) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] == '/' || path[i] == '\\') start = i + 1;
    }
    return path.substr(start);
}

const UnityNames::Folder& UnityNames::folder(const std::string& path) {
    const std::string where = folder_of(path);
    auto found = folders_.find(where);
    if (found != folders_.end()) return *found->second;
    auto made = std::make_unique<Folder>();
    std::vector<platform::FolderEntry> entries;
    std::string error;
    if (platform::list_folder(where.empty() ? "." : where, entries, error)) {
        std::size_t looked = 0;
        for (const platform::FolderEntry& entry : entries) {
            if (++looked > kMostEntriesLooked) break;
            if (entry.kind != platform::EntryKind::regular_file || passed_over(entry.name)) continue;
            const std::string file_path = where + entry.name;
            unity::FileSource source;
            std::string why;
            if (!source.open(file_path, why)) continue;
            unsigned char head[48] = {};
            const std::size_t have = source.size() < sizeof head ? static_cast<std::size_t>(source.size()) : sizeof head;
            if (!source.read(0, head, have) || !unity::looks_serialized(head, have, source.size())) continue;
            std::vector<unity::AudioClip> clips;
            if (!unity::read_audio_clips(source, clips, why)) {
                made->unreadable.push_back(entry.name + ": " + why);
                continue;
            }
            made->files.push_back(entry.name);
            for (unity::AudioClip& clip : clips) made->clips.push_back({entry.name, std::move(clip)});
        }
    }
    return *folders_.emplace(where, std::move(made)).first->second;
}

ResourceNames UnityNames::names_for(const std::string& path) {
    ResourceNames names;
    const Folder& here = folder(path);
    const std::string own_name = path_file_name(path);
    unity::FileSource resource;
    std::string error;
    const bool opened = resource.open(path, error);
    std::set<std::string> naming;  // the serialized files with a clip of this file
    std::size_t failing = 0;
    for (const Clip& c : here.clips) {
        if (path_file_name(c.clip.source) != own_name) continue;
        naming.insert(c.file);
        const bool fits = opened && c.clip.offset < resource.size() && c.clip.size > 0 &&
                          fsb5_size(resource, c.clip.offset) == c.clip.size &&
                          c.clip.size <= resource.size() - c.clip.offset;
        if (!fits) {
            ++failing;
            continue;
        }
        names.by_offset.emplace(c.clip.offset, ClipName{c.clip.name, c.file, c.clip.path_id});  // the first one wins
    }
    const bool unity_named = ends_with(own_name, ".resource") || ends_with(own_name, ".resS");
    if (!naming.empty()) {
        names.said = "sound names from the Unity serialized file" + std::string(naming.size() == 1 ? "" : "s") +
                     " beside it: " + listed(std::vector<std::string>(naming.begin(), naming.end()));
        if (failing > 0) {
            names.said += "; " + std::to_string(failing) + " clip" + (failing == 1 ? "" : "s") +
                          " pointing to no FSB5 bank of the clip's size in it, not used";
        }
    } else if (!here.files.empty()) {
        names.said = "none of the Unity serialized files beside it (" + listed(here.files) +
                     ") names it; its sounds keep numbered names";
    } else if (unity_named) {
        names.said = "no Unity serialized file beside it names it; its sounds keep numbered names";
    }
    if (!names.said.empty() && !here.unreadable.empty() && naming.empty()) {
        names.said += " (not read: " + listed(here.unreadable) + ")";
    }
    return names;
}
