#include "unity/serialized_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <map>

namespace unity {

bool MemorySource::read(std::uint64_t offset, void* out, std::size_t count) const {
    if (offset > size_ || count > size_ - offset) return false;
    if (count > 0) std::memcpy(out, data_ + offset, count);
    return true;
}

FileSource::~FileSource() {
    for (Part& part : parts_) std::fclose(part.file);
}

namespace {

bool file_size(std::FILE* f, std::uint64_t& size) {
#if defined(_WIN32)
    if (_fseeki64(f, 0, SEEK_END) != 0) return false;
    const long long at = _ftelli64(f);
#else
    if (fseeko(f, 0, SEEK_END) != 0) return false;
    const long long at = ftello(f);
#endif
    if (at < 0) return false;
    size = static_cast<std::uint64_t>(at);
    return true;
}

bool seek(std::FILE* f, std::uint64_t offset) {
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<long long>::max())) return false;
#if defined(_WIN32)
    return _fseeki64(f, static_cast<long long>(offset), SEEK_SET) == 0;
#else
    return fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

bool ends_with(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

bool FileSource::open(const std::string& path, std::string& error) {
    // NAME.split0 stands for the parts NAME.split0, NAME.split1, ...
    std::string stem;
    if (ends_with(path, ".split0")) stem = path.substr(0, path.size() - 1);
    for (unsigned index = 0;; ++index) {
        const std::string name = stem.empty() ? path : stem + std::to_string(index);
        std::FILE* f = std::fopen(name.c_str(), "rb");
        if (!f) {
            if (index == 0) error = std::string("cannot be opened: ") + std::strerror(errno);
            break;
        }
        std::uint64_t size = 0;
        if (!file_size(f, size)) {
            std::fclose(f);
            if (index == 0) error = "its size cannot be told";
            break;
        }
        parts_.push_back({f, size_, size});
        size_ += size;
        if (stem.empty() || index >= 255) break;
    }
    return !parts_.empty();
}

bool FileSource::read(std::uint64_t offset, void* out, std::size_t count) const {
    if (offset > size_ || count > size_ - offset) return false;
    auto* to = static_cast<unsigned char*>(out);
    for (const Part& part : parts_) {
        if (count == 0) break;
        if (offset >= part.start + part.size) continue;
        const std::uint64_t within = offset - part.start;
        const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(count, part.size - within));
        if (!seek(part.file, within) || std::fread(to, 1, take, part.file) != take) return false;
        to += take;
        offset += take;
        count -= take;
    }
    return count == 0;
}

namespace {

// Reads numbers and strings out of a buffer in the file's byte order; a read
// past the end sets `failed` and gives zeros, so that the caller checks once.
class Cursor {
public:
    Cursor(const std::vector<unsigned char>& bytes, bool big_endian, std::size_t at = 0)
        : bytes_(bytes), big_(big_endian), at_(at) {}

    bool failed() const { return failed_; }
    std::size_t at() const { return at_; }
    std::size_t left() const { return at_ <= bytes_.size() ? bytes_.size() - at_ : 0; }
    void set_big_endian(bool big) { big_ = big; }

    std::uint64_t unsigned_number(std::size_t width) {
        if (!take(width)) return 0;
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < width; ++i) {
            const std::uint64_t byte = bytes_[at_ - width + i];
            value |= big_ ? byte << (8 * (width - 1 - i)) : byte << (8 * i);
        }
        return value;
    }
    std::uint8_t u8() { return static_cast<std::uint8_t>(unsigned_number(1)); }
    std::uint16_t u16() { return static_cast<std::uint16_t>(unsigned_number(2)); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(unsigned_number(4)); }
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
    std::uint64_t u64() { return unsigned_number(8); }
    std::int64_t i64() { return static_cast<std::int64_t>(u64()); }
    void skip(std::uint64_t count) {
        if (count > left()) {
            failed_ = true;
            at_ = bytes_.size();
            return;
        }
        at_ += static_cast<std::size_t>(count);
    }
    // To a multiple of 4 from the buffer's start.
    void align() { skip((4 - at_ % 4) % 4); }
    // A string ending with a zero byte, of at most `most` bytes.
    std::string to_zero(std::size_t most) {
        const std::size_t start = at_;
        while (at_ < bytes_.size() && bytes_[at_] != 0) {
            if (at_ - start >= most) {
                failed_ = true;
                return {};
            }
            ++at_;
        }
        if (at_ >= bytes_.size()) {
            failed_ = true;
            return {};
        }
        std::string text(bytes_.begin() + static_cast<std::ptrdiff_t>(start), bytes_.begin() + static_cast<std::ptrdiff_t>(at_));
        ++at_;
        return text;
    }
    std::string text(std::size_t count) {
        if (!take(count)) return {};
        return std::string(bytes_.begin() + static_cast<std::ptrdiff_t>(at_ - count),
                           bytes_.begin() + static_cast<std::ptrdiff_t>(at_));
    }

private:
    bool take(std::size_t count) {
        if (failed_ || count > left()) {
            failed_ = true;
            at_ = bytes_.size();
            return false;
        }
        at_ += count;
        return true;
    }
    const std::vector<unsigned char>& bytes_;
    bool big_;
    std::size_t at_;
    bool failed_ = false;
};

// The strings every type tree may point to instead of its own (an offset
// with the top bit set): zero-terminated, one after the other.
constexpr char kCommonStrings[] =
    "AABB\0AnimationClip\0AnimationCurve\0AnimationState\0Array\0Base\0BitField\0bitset\0bool\0char\0ColorRGBA\0"
    "Component\0data\0deque\0double\0dynamic_array\0FastPropertyName\0first\0float\0Font\0GameObject\0"
    "Generic Mono\0GradientNEW\0GUID\0GUIStyle\0int\0list\0long long\0map\0Matrix4x4f\0MdFour\0MonoBehaviour\0"
    "MonoScript\0m_ByteSize\0m_Curve\0m_EditorClassIdentifier\0m_EditorHideFlags\0m_Enabled\0m_ExtensionPtr\0"
    "m_GameObject\0m_Index\0m_IsArray\0m_IsStatic\0m_MetaFlag\0m_Name\0m_ObjectHideFlags\0m_PrefabInternal\0"
    "m_PrefabParentObject\0m_Script\0m_StaticEditorFlags\0m_Type\0m_Version\0Object\0pair\0PPtr<Component>\0"
    "PPtr<GameObject>\0PPtr<Material>\0PPtr<MonoBehaviour>\0PPtr<MonoScript>\0PPtr<Object>\0PPtr<Prefab>\0"
    "PPtr<Sprite>\0PPtr<TextAsset>\0PPtr<Texture>\0PPtr<Texture2D>\0PPtr<Transform>\0Prefab\0Quaternionf\0"
    "Rectf\0RectInt\0RectOffset\0second\0set\0short\0size\0SInt16\0SInt32\0SInt64\0SInt8\0staticvector\0string\0"
    "TextAsset\0TextMesh\0Texture\0Texture2D\0Transform\0TypelessData\0UInt16\0UInt32\0UInt64\0UInt8\0"
    "unsigned int\0unsigned long long\0unsigned short\0vector\0Vector2f\0Vector3f\0Vector4f\0"
    "m_ScriptingClassIdentifier\0Gradient\0Type*\0int2_storage\0int3_storage\0BoundsInt\0"
    "m_CorrespondingSourceObject\0m_PrefabInstance\0m_PrefabAsset\0FileSize\0Hash128\0";

std::string common_string(std::uint32_t offset) {
    // Only offsets where a string starts.
    if (offset >= sizeof kCommonStrings - 1) return "?";
    if (offset > 0 && kCommonStrings[offset - 1] != '\0') return "?";
    return std::string(kCommonStrings + offset);
}

std::string tree_string(const std::vector<unsigned char>& buffer, std::uint32_t offset) {
    if (offset & 0x80000000u) return common_string(offset & 0x7FFFFFFFu);
    if (offset >= buffer.size()) return "?";
    std::size_t end = offset;
    while (end < buffer.size() && buffer[end] != 0 && end - offset < kMostTypeString) ++end;
    return std::string(buffer.begin() + offset, buffer.begin() + static_cast<std::ptrdiff_t>(end));
}

// A type tree as one block: nodes with their levels, then their strings.
bool read_tree_blob(Cursor& in, std::uint32_t format, std::vector<TypeNode>& tree, std::string& error) {
    const std::int32_t nodes = in.i32();
    const std::int32_t strings = in.i32();
    const std::size_t node_size = format >= 19 ? 32 : 24;
    if (in.failed() || nodes < 0 || strings < 0 || static_cast<std::size_t>(nodes) > kMostTypeNodes ||
        static_cast<std::uint64_t>(nodes) * node_size > in.left() ||
        static_cast<std::uint64_t>(strings) > in.left() - static_cast<std::uint64_t>(nodes) * node_size) {
        error = "a type tree's size does not fit the file";
        return false;
    }
    struct Offsets {
        std::uint32_t type, name;
    };
    std::vector<Offsets> offsets(static_cast<std::size_t>(nodes));
    tree.resize(static_cast<std::size_t>(nodes));
    for (std::size_t i = 0; i < tree.size(); ++i) {
        TypeNode& node = tree[i];
        in.u16();  // the field's version
        node.level = in.u8();
        node.flags = in.u8();
        offsets[i].type = in.u32();
        offsets[i].name = in.u32();
        node.byte_size = in.i32();
        in.i32();  // index
        node.meta_flag = in.i32();
        if (format >= 19) in.u64();  // the referenced type's hash
    }
    const std::string buffer_text = in.text(static_cast<std::size_t>(strings));
    const std::vector<unsigned char> buffer(buffer_text.begin(), buffer_text.end());
    for (std::size_t i = 0; i < tree.size(); ++i) {
        tree[i].type = tree_string(buffer, offsets[i].type);
        tree[i].name = tree_string(buffer, offsets[i].name);
    }
    return !in.failed();
}

// The older form: each node with its strings, then its children.
bool read_tree_nodes(Cursor& in, std::uint32_t format, std::vector<TypeNode>& tree, std::size_t level,
                     std::string& error) {
    if (level >= kMostTreeDepth) {
        error = "a type tree nests deeper than " + std::to_string(kMostTreeDepth) + " levels";
        return false;
    }
    if (tree.size() >= kMostTypeNodes) {
        error = "a type tree has more than " + std::to_string(kMostTypeNodes) + " fields";
        return false;
    }
    TypeNode node;
    node.level = static_cast<std::uint8_t>(level);
    node.type = in.to_zero(kMostTypeString);
    node.name = in.to_zero(kMostTypeString);
    node.byte_size = in.i32();
    if (format == 2) in.i32();  // variable count
    if (format != 3) in.i32();  // index
    node.flags = in.u32();
    in.i32();  // version
    if (format != 3) node.meta_flag = in.i32();
    const std::int32_t children = in.i32();
    if (in.failed() || children < 0) {
        error = "a type tree runs past the end of the file's metadata";
        return false;
    }
    tree.push_back(std::move(node));
    for (std::int32_t i = 0; i < children; ++i) {
        if (!read_tree_nodes(in, format, tree, level + 1, error)) return false;
    }
    return true;
}

bool read_type(Cursor& in, std::uint32_t format, bool trees, SerializedType& type, std::string& error) {
    type.class_id = in.i32();
    if (format >= 16) in.u8();  // stripped
    std::int16_t script_index = -1;
    if (format >= 17) script_index = static_cast<std::int16_t>(in.u16());
    (void)script_index;
    if (format >= 13) {
        if ((format < 16 && type.class_id < 0) || (format >= 16 && type.class_id == 114)) in.skip(16);  // script ID
        in.skip(16);  // the type's hash
    }
    if (in.failed()) {
        error = "the type list runs past the end of the file's metadata";
        return false;
    }
    if (!trees) return true;
    const bool ok = format >= 12 || format == 10 ? read_tree_blob(in, format, type.tree, error)
                                                 : read_tree_nodes(in, format, type.tree, 0, error);
    if (!ok) return false;
    // Levels must go down one at a time from a single root.
    for (std::size_t i = 0; i < type.tree.size(); ++i) {
        const unsigned level = type.tree[i].level;
        const unsigned before = i == 0 ? 0 : type.tree[i - 1].level;
        if ((i == 0 && level != 0) || (i > 0 && (level == 0 || level > before + 1)) || level >= kMostTreeDepth) {
            error = "a type tree's levels do not make a tree";
            return false;
        }
    }
    if (format >= 21) {
        const std::int32_t dependencies = in.i32();
        if (dependencies < 0 || static_cast<std::uint64_t>(dependencies) * 4 > in.left()) {
            error = "the type list runs past the end of the file's metadata";
            return false;
        }
        in.skip(static_cast<std::uint64_t>(dependencies) * 4);
    }
    if (in.failed()) {
        error = "the type list runs past the end of the file's metadata";
        return false;
    }
    return true;
}

std::uint32_t big32(const unsigned char* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

std::uint64_t big64(const unsigned char* p) { return std::uint64_t{big32(p)} << 32 | big32(p + 4); }

constexpr std::uint32_t kOldestFormat = 9;
constexpr std::uint32_t kNewestFormat = 64;  // later formats are taken as 22 is, and checked as they are read

struct Head {
    std::uint32_t format = 0;
    std::uint64_t metadata_size = 0, file_size = 0, data_offset = 0;
    bool big_endian = false;
    std::size_t length = 0;  // of the header itself
};

bool read_head(const unsigned char* p, std::size_t count, Head& head) {
    if (count < 20) return false;
    head.format = big32(p + 8);
    if (head.format < kOldestFormat || head.format > kNewestFormat) return false;
    head.metadata_size = big32(p);
    head.file_size = big32(p + 4);
    head.data_offset = big32(p + 12);
    head.big_endian = p[16] != 0;
    head.length = 20;
    if (head.format >= 22) {
        if (count < 48) return false;
        head.metadata_size = big32(p + 20);
        head.file_size = big64(p + 24);
        head.data_offset = big64(p + 32);
        head.length = 48;
    }
    return p[16] <= 1;
}

}  // namespace

bool looks_serialized(const unsigned char* head, std::size_t count, std::uint64_t file_size) {
    Head h;
    return read_head(head, count, h) && h.file_size == file_size && h.data_offset <= file_size &&
           h.metadata_size > 0 && h.metadata_size <= file_size;
}

bool read_serialized_file(const ByteSource& source, SerializedFile& file, std::string& error) {
    file = {};
    unsigned char head_bytes[48] = {};
    const std::size_t have = static_cast<std::size_t>(std::min<std::uint64_t>(source.size(), sizeof head_bytes));
    Head head;
    if (!source.read(0, head_bytes, have) || !read_head(head_bytes, have, head)) {
        error = "not a Unity serialized file (format 9 or later)";
        return false;
    }
    if (head.file_size != source.size()) {
        error = "its header gives a size of " + std::to_string(head.file_size) + " bytes, not the file's " +
                std::to_string(source.size());
        return false;
    }
    if (head.metadata_size > kMostMetadata) {
        error = "its metadata is larger than " + std::to_string(kMostMetadata >> 20) + " MiB";
        return false;
    }
    if (head.length + head.metadata_size > source.size() || head.data_offset > source.size()) {
        error = "its header gives sizes past the end of the file";
        return false;
    }
    file.format = head.format;
    file.big_endian = head.big_endian;
    file.metadata_size = head.metadata_size;
    file.file_size = head.file_size;
    file.data_offset = head.data_offset;

    std::vector<unsigned char> meta(static_cast<std::size_t>(head.metadata_size));
    if (!source.read(head.length, meta.data(), meta.size())) {
        error = "its metadata cannot be read";
        return false;
    }
    Cursor in(meta, head.big_endian);
    const std::uint32_t format = head.format;
    file.unity_version = in.to_zero(64);
    file.platform = in.i32();
    file.type_trees = format >= 13 ? in.u8() != 0 : true;
    const std::int32_t types = in.i32();
    if (in.failed() || types < 0 || static_cast<std::uint64_t>(types) * 4 > in.left()) {
        error = "its type list does not fit its metadata";
        return false;
    }
    if (static_cast<std::size_t>(types) > kMostTypes) {
        error = "its type list has more than " + std::to_string(kMostTypes) + " entries";
        return false;
    }
    std::size_t all_nodes = 0;
    for (std::int32_t t = 0; t < types; ++t) {
        SerializedType type;
        if (!read_type(in, format, file.type_trees, type, error)) return false;
        all_nodes += type.tree.size();
        if (all_nodes > kMostAllTypeNodes) {
            error = "its type trees have more than " + std::to_string(kMostAllTypeNodes) + " fields in all";
            return false;
        }
        file.types.push_back(std::move(type));
    }
    // Before format 16 an object names its type by class ID.
    std::map<std::int32_t, int> by_class;
    for (std::size_t t = file.types.size(); t > 0; --t) by_class[file.types[t - 1].class_id] = static_cast<int>(t - 1);
    bool big_ids = false;
    if (format < 14) big_ids = in.i32() != 0;
    const std::int32_t objects = in.i32();
    const std::uint64_t entry_size = 16;  // the least an entry takes in any format
    if (in.failed() || objects < 0 || static_cast<std::uint64_t>(objects) * entry_size > in.left()) {
        error = "its object table does not fit its metadata";
        return false;
    }
    file.objects.reserve(static_cast<std::size_t>(objects));
    for (std::int32_t i = 0; i < objects; ++i) {
        ObjectEntry object;
        if (format >= 14) {
            in.align();
            object.path_id = in.i64();
        } else {
            object.path_id = big_ids ? in.i64() : in.i32();
        }
        object.byte_start = format >= 22 ? in.u64() : in.u32();
        object.byte_size = in.u32();
        const std::int32_t type_id = in.i32();
        if (format < 16) {
            object.class_id = static_cast<std::int16_t>(in.u16());
            const auto found = by_class.find(type_id);
            if (found != by_class.end()) object.type_index = found->second;
        } else if (type_id >= 0 && static_cast<std::size_t>(type_id) < file.types.size()) {
            object.type_index = type_id;
            object.class_id = file.types[static_cast<std::size_t>(type_id)].class_id;
        } else {
            object.class_id = -1;
        }
        if (format < 11) in.u16();  // destroyed
        if (format >= 11 && format < 17) in.u16();  // script type index
        if (format == 15 || format == 16) in.u8();  // stripped
        if (in.failed()) {
            error = "its object table runs past the end of its metadata";
            return false;
        }
        file.objects.push_back(object);
    }
    return true;
}

namespace {

struct Version {
    int major = 0, minor = 0;
};

Version parse_version(const std::string& text) {
    Version v;
    std::size_t i = 0;
    auto number = [&](int& out) {
        bool any = false;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && out < 100000) {
            out = out * 10 + (text[i++] - '0');
            any = true;
        }
        return any;
    };
    if (!number(v.major)) return {};
    if (i < text.size() && text[i] == '.') {
        ++i;
        number(v.minor);
    }
    return v;
}

bool at_least(const Version& v, int major, int minor) {
    return v.major > major || (v.major == major && v.minor >= minor);
}

// The fields of AudioClip before m_Resource that changed with Unity's
// versions, for files without type trees: each from the version given on.
struct LayoutField {
    int major, minor;  // first version that has it
    int bytes;         // its size; 0 aligns to 4
    const char* name;
};

constexpr LayoutField kAudioClipLayout[] = {
    {5, 0, 4, "m_LoadType"},
    {5, 0, 4, "m_Channels"},
    {5, 0, 4, "m_Frequency"},
    {5, 0, 4, "m_BitsPerSample"},
    {5, 0, 4, "m_Length"},
    {5, 0, 1, "m_IsTrackerFormat"},
    {2017, 0, 1, "m_Ambisonic"},
    {5, 0, 0, ""},
    {5, 0, 4, "m_SubsoundIndex"},
    {5, 0, 1, "m_PreloadAudioData"},
    {5, 0, 1, "m_LoadInBackground"},
    {5, 0, 1, "m_Legacy3D"},
    {5, 0, 0, ""},
};

bool read_text(Cursor& in, std::string& out, const char* what, std::string& error) {
    const std::uint32_t length = in.u32();
    if (in.failed()) {
        error = std::string(what) + " runs past the end of the object";
        return false;
    }
    if (length > kMostClipText) {
        error = std::string(what) + " is longer than " + std::to_string(kMostClipText) + " bytes";
        return false;
    }
    out = in.text(length);
    in.align();
    if (in.failed()) {
        error = std::string(what) + " runs past the end of the object";
        return false;
    }
    return true;
}

bool read_by_layout(Cursor& in, const std::string& unity_version, AudioClip& clip, std::string& error) {
    const Version version = parse_version(unity_version);
    if (!at_least(version, 5, 0)) {
        error = "AudioClip objects of Unity " + unity_version + " without type trees are not read (5.0 and later are)";
        return false;
    }
    if (!read_text(in, clip.name, "m_Name", error)) return false;
    for (const LayoutField& field : kAudioClipLayout) {
        if (!at_least(version, field.major, field.minor)) continue;
        if (field.bytes == 0) {
            in.align();
        } else {
            in.skip(static_cast<std::uint64_t>(field.bytes));
        }
    }
    if (!read_text(in, clip.source, "m_Source", error)) return false;
    clip.offset = in.u64();
    clip.size = in.u64();
    if (in.failed()) {
        error = "m_Resource runs past the end of the object";
        return false;
    }
    return true;
}

// Walks an object's bytes along its type tree, noting the fields of an
// AudioClip as it passes them.
class TreeWalk {
public:
    TreeWalk(const std::vector<TypeNode>& tree, Cursor& in, AudioClip& clip) : tree_(tree), in_(in), clip_(clip) {
        // Where each node's children end, found once.
        ends_.resize(tree.size());
        for (std::size_t i = 0; i < tree.size(); ++i) {
            std::size_t end = i + 1;
            while (end < tree.size() && tree[end].level > tree[i].level) ++end;
            ends_[i] = end;
        }
    }
    // False, with the reason, when the bytes do not fit the tree.
    bool walk(std::string& error) {
        if (tree_.empty()) {
            error = "its type tree is empty";
            return false;
        }
        found_ = 0;
        if (!node(0, "", error)) return false;
        if (!(found_ & kName)) error = "it has no m_Name";
        else if (!(found_ & kSource) || !(found_ & kOffset) || !(found_ & kSize)) error = "it has no m_Resource";
        else return true;
        return false;
    }

private:
    static constexpr unsigned kName = 1, kSource = 2, kOffset = 4, kSize = 8, kAll = 15;

    bool node(std::size_t index, const std::string& parent, std::string& error) {
        if (found_ == kAll) return true;  // nothing after the fields wanted matters
        if (++steps_ > kMostWalkSteps) {
            error = "its type tree takes more than " + std::to_string(kMostWalkSteps) + " steps to read";
            return false;
        }
        const TypeNode& n = tree_[index];
        const bool top = n.level == 1;
        if (n.type == "string" && ((top && n.name == "m_Name") || (parent == "m_Resource" && n.name == "m_Source"))) {
            std::string text;
            if (!read_text(in_, text, n.name.c_str(), error)) return false;
            if (n.name == "m_Name") {
                clip_.name = std::move(text);
                found_ |= kName;
            } else {
                clip_.source = std::move(text);
                found_ |= kSource;
            }
            return true;
        }
        if (parent == "m_Resource" && (n.name == "m_Offset" || n.name == "m_Size") && index + 1 >= ends_[index]) {
            std::uint64_t value = 0;
            if (n.byte_size == 8) value = in_.u64();
            else if (n.byte_size == 4) value = in_.u32();
            else {
                error = n.name + " is neither 4 nor 8 bytes";
                return false;
            }
            (n.name == "m_Offset" ? clip_.offset : clip_.size) = value;
            found_ |= n.name == "m_Offset" ? kOffset : kSize;
            return after(n, error);
        }
        const std::size_t first_child = index + 1;
        const std::size_t end = ends_[index];
        if (n.flags & 1) {
            // An array: its size, then that many of its element.
            if (end - first_child < 2) {
                error = "an array in its type tree has no size or element";
                return false;
            }
            const std::int32_t count = in_.i32();
            if (in_.failed() || count < 0) {
                error = "an array runs past the end of the object";
                return false;
            }
            const std::size_t element = ends_[first_child];
            if (element >= end) {
                error = "an array in its type tree has no element";
                return false;
            }
            const TypeNode& e = tree_[element];
            if (ends_[element] == element + 1 && e.byte_size > 0 && !(e.meta_flag & 0x4000)) {
                // Plain elements: skipped at once.
                in_.skip(static_cast<std::uint64_t>(count) * static_cast<std::uint64_t>(e.byte_size));
            } else {
                for (std::int32_t i = 0; i < count; ++i) {
                    if (!node(element, n.name, error)) return false;
                    if (in_.failed()) break;
                }
            }
        } else if (first_child == end) {
            if (n.byte_size < 0) {
                error = "a field of its type tree has no size";
                return false;
            }
            in_.skip(static_cast<std::uint64_t>(n.byte_size));
        } else {
            for (std::size_t child = first_child; child < end; child = ends_[child]) {
                if (!node(child, n.name, error)) return false;
                if (found_ == kAll) return true;
            }
        }
        return after(n, error);
    }

    bool after(const TypeNode& n, std::string& error) {
        if (n.meta_flag & 0x4000) in_.align();
        if (in_.failed()) {
            error = "its fields run past the end of the object";
            return false;
        }
        return true;
    }

    const std::vector<TypeNode>& tree_;
    Cursor& in_;
    AudioClip& clip_;
    std::vector<std::size_t> ends_;
    unsigned found_ = 0;
    std::uint64_t steps_ = 0;
};

}  // namespace

bool read_audio_clip(const ByteSource& source, const SerializedFile& file, const ObjectEntry& object, AudioClip& clip,
                     std::string& error) {
    clip = {};
    clip.path_id = object.path_id;
    const std::uint64_t start = file.data_offset + object.byte_start;
    if (start < file.data_offset || start > source.size() || object.byte_size > source.size() - start) {
        error = "it lies past the end of the file";
        return false;
    }
    std::vector<unsigned char> bytes(std::min<std::size_t>(object.byte_size, kMostObjectBytes));
    if (!source.read(start, bytes.data(), bytes.size())) {
        error = "it cannot be read";
        return false;
    }
    Cursor in(bytes, file.big_endian);
    const SerializedType* type =
        object.type_index >= 0 && static_cast<std::size_t>(object.type_index) < file.types.size()
            ? &file.types[static_cast<std::size_t>(object.type_index)]
            : nullptr;
    if (type && !type->tree.empty()) {
        TreeWalk walk(type->tree, in, clip);
        return walk.walk(error);
    }
    return read_by_layout(in, file.unity_version, clip, error);
}

bool read_audio_clips(const ByteSource& source, std::vector<AudioClip>& clips, std::string& error,
                      std::size_t* unreadable, std::string* clip_error) {
    SerializedFile file;
    if (!read_serialized_file(source, file, error)) return false;
    if (unreadable) *unreadable = 0;
    for (const ObjectEntry& object : file.objects) {
        if (object.class_id != kAudioClipClass) continue;
        AudioClip clip;
        std::string why;
        if (read_audio_clip(source, file, object, clip, why)) {
            clips.push_back(std::move(clip));
        } else {
            if (unreadable) ++*unreadable;
            if (clip_error && clip_error->empty()) {
                *clip_error = "AudioClip " + std::to_string(object.path_id) + ": " + why;
            }
        }
    }
    return true;
}

}  // namespace unity
