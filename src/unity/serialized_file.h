// Unity's serialized files (sharedassetsN.assets, resources.assets, levelN,
// the editor's Library/metadata caches): the header, the type list with its
// type trees when the file carries them, the object table, and the AudioClip
// objects, whose m_Resource says where in a resource file each clip's FSB5
// bank lies. Formats 9 and later, either byte order. Reading costs memory
// and time bounded by the limits below, whatever the file says of itself:
// a file that lies fails with a reason.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace unity {

// Where the bytes come from: a file read piece by piece, or memory.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // False when the bytes cannot all be had.
    virtual bool read(std::uint64_t offset, void* out, std::size_t count) const = 0;
};

class MemorySource : public ByteSource {
public:
    MemorySource(const void* data, std::size_t size) : data_(static_cast<const unsigned char*>(data)), size_(size) {}
    std::uint64_t size() const override { return size_; }
    bool read(std::uint64_t offset, void* out, std::size_t count) const override;

private:
    const unsigned char* data_;
    std::size_t size_;
};

// A file, or the parts NAME.split0, NAME.split1, ... read as one.
class FileSource : public ByteSource {
public:
    FileSource() = default;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;
    ~FileSource() override;
    // False, with the reason, when the file (or its first part) does not open.
    bool open(const std::string& path, std::string& error);
    std::uint64_t size() const override { return size_; }
    bool read(std::uint64_t offset, void* out, std::size_t count) const override;

private:
    struct Part {
        std::FILE* file = nullptr;
        std::uint64_t start = 0;
        std::uint64_t size = 0;
    };
    std::vector<Part> parts_;
    std::uint64_t size_ = 0;
};

// What the reader takes on at most.
constexpr std::uint64_t kMostMetadata = 64u << 20;   // bytes of header, types and object table
constexpr std::size_t kMostTypes = 1u << 16;         // entries of the type list
constexpr std::size_t kMostTypeNodes = 1u << 16;     // nodes of one type tree
constexpr std::size_t kMostAllTypeNodes = 1u << 20;  // nodes of all the file's type trees
constexpr std::size_t kMostTreeDepth = 64;           // levels of one type tree
constexpr std::size_t kMostTypeString = 4096;        // bytes of a type or field name in a tree
constexpr std::size_t kMostClipText = 16384;         // bytes of a clip's name or source
constexpr std::size_t kMostObjectBytes = 1u << 20;   // of one AudioClip object, read from its start
constexpr std::uint64_t kMostWalkSteps = 1u << 20;   // fields visited reading one object

constexpr std::int32_t kAudioClipClass = 83;

struct TypeNode {
    std::string type;
    std::string name;
    std::int32_t byte_size = 0;
    std::uint8_t level = 0;
    std::uint32_t flags = 0;      // bit 0: an array
    std::int32_t meta_flag = 0;   // 0x4000: aligned to 4 bytes after
};

struct SerializedType {
    std::int32_t class_id = 0;
    std::vector<TypeNode> tree;  // in depth-first order; empty without type trees
};

struct ObjectEntry {
    std::int64_t path_id = 0;
    std::uint64_t byte_start = 0;  // from the file's data offset
    std::uint32_t byte_size = 0;
    std::int32_t class_id = 0;
    int type_index = -1;  // in SerializedFile::types, -1 when none describes it
};

struct SerializedFile {
    std::uint32_t format = 0;
    bool big_endian = false;
    std::uint64_t metadata_size = 0;
    std::uint64_t file_size = 0;
    std::uint64_t data_offset = 0;
    std::string unity_version;
    std::int32_t platform = 0;
    bool type_trees = false;
    std::vector<SerializedType> types;
    std::vector<ObjectEntry> objects;
};

struct AudioClip {
    std::int64_t path_id = 0;
    std::string name;    // m_Name
    std::string source;  // m_Resource.m_Source
    std::uint64_t offset = 0;  // m_Resource.m_Offset
    std::uint64_t size = 0;    // m_Resource.m_Size
};

// Whether the first bytes look like a serialized file's header, for
// picking the serialized files out of a folder cheaply: `head` holds the
// file's first bytes (48 are enough), `file_size` its size.
bool looks_serialized(const unsigned char* head, std::size_t count, std::uint64_t file_size);

// The header, type list and object table. False, with the reason, when the
// file is not one or cannot be read within the limits.
bool read_serialized_file(const ByteSource& source, SerializedFile& file, std::string& error);

// One AudioClip object: through its type tree when the file has one, else
// by the layout of the file's Unity version (5.0 and later).
bool read_audio_clip(const ByteSource& source, const SerializedFile& file, const ObjectEntry& object, AudioClip& clip,
                     std::string& error);

// Every AudioClip of the file that reads. False, with the reason, when the
// file itself does not read; clips that do not read are counted in
// `unreadable` (may be null), with the first reason in `clip_error`.
bool read_audio_clips(const ByteSource& source, std::vector<AudioClip>& clips, std::string& error,
                      std::size_t* unreadable = nullptr, std::string* clip_error = nullptr);

}  // namespace unity
