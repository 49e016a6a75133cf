// Writes small Unity serialized files holding AudioClip objects, for the
// tests and the fuzzer's seeds: each format's header (9 to 22 and later),
// either byte order, with or without type trees (the blob form from format
// 12 and in 10, the nested form in 9 and 11). A file from here proves only
// that writer and reader agree; the corpus's Unity builds stay the judge.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace unitywriter {

using Bytes = std::vector<std::uint8_t>;

struct Clip {
    std::int64_t path_id = 1;
    std::string name;
    std::string source;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

struct Layout {
    std::uint32_t format = 17;
    bool big_endian = false;
    bool type_trees = false;  // always on below format 13
    std::string unity_version = "5.6.0f3";
    // With type trees: an array of ints the version's own layout does not
    // have, before m_Resource, so that only a reader of the tree finds it.
    bool extra_field = false;
    // With blob trees: the names Unity keeps in its common strings given by
    // offset into them, as Unity writes them.
    bool common_strings = false;
    // Another object (class 1, GameObject) before the clips.
    bool other_object = true;
};

namespace detail {

inline bool has_ambisonic(const std::string& version) { return std::atoi(version.c_str()) >= 2017; }

class Out {
public:
    explicit Out(bool big) : big_(big) {}
    Bytes bytes;
    void n(std::uint64_t v, int width) {
        for (int i = 0; i < width; ++i) {
            const int shift = big_ ? 8 * (width - 1 - i) : 8 * i;
            bytes.push_back(static_cast<std::uint8_t>(v >> shift));
        }
    }
    void u8(std::uint64_t v) { n(v, 1); }
    void u16(std::uint64_t v) { n(v, 2); }
    void u32(std::uint64_t v) { n(v, 4); }
    void u64(std::uint64_t v) { n(v, 8); }
    void zero_ended(const std::string& s) {
        bytes.insert(bytes.end(), s.begin(), s.end());
        bytes.push_back(0);
    }
    void align() {
        while (bytes.size() % 4) bytes.push_back(0);
    }
    void text(const std::string& s) {
        u32(s.size());
        bytes.insert(bytes.end(), s.begin(), s.end());
        align();
    }

private:
    bool big_;
};

struct Node {
    std::string type, name;
    int level;
    std::int32_t size;
    std::uint8_t flags;  // 1: an array
    std::int32_t meta;   // 0x4000: aligned after
};

inline void string_nodes(std::vector<Node>& tree, const char* name, int level) {
    tree.push_back({"string", name, level, -1, 0, 0x8000});
    tree.push_back({"Array", "Array", level + 1, -1, 1, 0x4000});
    tree.push_back({"int", "size", level + 2, 4, 0, 0});
    tree.push_back({"char", "data", level + 2, 1, 0, 0});
}

inline std::vector<Node> clip_tree(const Layout& layout) {
    std::vector<Node> t;
    t.push_back({"AudioClip", "Base", 0, -1, 0, 0});
    string_nodes(t, "m_Name", 1);
    for (const char* f : {"m_LoadType", "m_Channels", "m_Frequency", "m_BitsPerSample"}) t.push_back({"int", f, 1, 4, 0, 0});
    t.push_back({"float", "m_Length", 1, 4, 0, 0});
    t.push_back({"bool", "m_IsTrackerFormat", 1, 1, 0, 0});
    if (has_ambisonic(layout.unity_version)) t.push_back({"bool", "m_Ambisonic", 1, 1, 0, 0});
    t.back().meta = 0x4000;
    t.push_back({"int", "m_SubsoundIndex", 1, 4, 0, 0});
    t.push_back({"bool", "m_PreloadAudioData", 1, 1, 0, 0});
    t.push_back({"bool", "m_LoadInBackground", 1, 1, 0, 0});
    t.push_back({"bool", "m_Legacy3D", 1, 1, 0, 0x4000});
    if (layout.extra_field) {
        t.push_back({"vector", "m_Extra", 1, -1, 0, 0});
        t.push_back({"Array", "Array", 2, -1, 1, 0});
        t.push_back({"int", "size", 3, 4, 0, 0});
        t.push_back({"int", "data", 3, 4, 0, 0});
    }
    t.push_back({"StreamedResource", "m_Resource", 1, -1, 0, 0});
    string_nodes(t, "m_Source", 2);
    t.push_back({"UInt64", "m_Offset", 2, 8, 0, 0});
    t.push_back({"UInt64", "m_Size", 2, 8, 0, 0});
    t.push_back({"int", "m_CompressionFormat", 1, 4, 0, 0});
    return t;
}

inline std::uint32_t common_offset(const std::string& s) {
    static const std::pair<const char*, std::uint32_t> known[] = {
        {"Array", 49}, {"Base", 55}, {"bool", 76}, {"char", 81}, {"data", 106}, {"float", 161}, {"int", 222},
        {"m_Name", 427}, {"size", 795}, {"string", 840}, {"UInt64", 921}, {"vector", 981}};
    for (const auto& [text, offset] : known) {
        if (s == text) return 0x80000000u | offset;
    }
    return 0;
}

inline void write_tree(Out& out, const Layout& layout, const std::vector<Node>& tree, std::size_t& at, int level) {
    if (layout.format >= 12 || layout.format == 10) {
        std::string strings;
        auto offset = [&](const std::string& s) -> std::uint32_t {
            if (layout.common_strings) {
                if (const std::uint32_t common = common_offset(s)) return common;
            }
            const std::size_t found = strings.find(s + '\0');
            if (found != std::string::npos && (found == 0 || strings[found - 1] == '\0')) return static_cast<std::uint32_t>(found);
            const auto o = static_cast<std::uint32_t>(strings.size());
            strings += s + '\0';
            return o;
        };
        std::vector<std::pair<std::uint32_t, std::uint32_t>> offsets;
        for (const Node& node : tree) offsets.push_back({offset(node.type), offset(node.name)});
        out.u32(tree.size());
        out.u32(strings.size());
        for (std::size_t i = 0; i < tree.size(); ++i) {
            out.u16(1);
            out.u8(static_cast<std::uint64_t>(tree[i].level));
            out.u8(tree[i].flags);
            out.u32(offsets[i].first);
            out.u32(offsets[i].second);
            out.u32(static_cast<std::uint32_t>(tree[i].size));
            out.u32(i);
            out.u32(static_cast<std::uint32_t>(tree[i].meta));
            if (layout.format >= 19) out.u64(0);
        }
        out.bytes.insert(out.bytes.end(), strings.begin(), strings.end());
        return;
    }
    // Nested: the node, its child count, its children.
    const Node& node = tree[at++];
    out.zero_ended(node.type);
    out.zero_ended(node.name);
    out.u32(static_cast<std::uint32_t>(node.size));
    out.u32(at - 1);
    out.u32(node.flags);
    out.u32(1);
    out.u32(static_cast<std::uint32_t>(node.meta));
    std::vector<std::size_t> children;
    for (std::size_t i = at; i < tree.size() && tree[i].level > level; ++i) {
        if (tree[i].level == level + 1) children.push_back(i);
    }
    out.u32(children.size());
    for (std::size_t child : children) {
        at = child;
        write_tree(out, layout, tree, at, level + 1);
    }
}

inline Bytes clip_bytes(const Layout& layout, const Clip& clip) {
    Out o(layout.big_endian);
    o.text(clip.name);
    for (int i = 0; i < 5; ++i) o.u32(i == 1 ? 2 : i == 2 ? 44100 : 16);
    o.u8(0);
    if (has_ambisonic(layout.unity_version)) o.u8(0);
    o.align();
    o.u32(0);
    o.u8(1);
    o.u8(0);
    o.u8(1);
    o.align();
    if (layout.extra_field) {
        o.u32(3);
        for (int i = 0; i < 3; ++i) o.u32(0x11111111u * static_cast<std::uint32_t>(i + 1));
    }
    o.text(clip.source);
    o.u64(clip.offset);
    o.u64(clip.size);
    o.u32(1);
    return o.bytes;
}

}  // namespace detail

inline Bytes write_serialized(const Layout& layout, const std::vector<Clip>& clips) {
    using namespace detail;
    const std::uint32_t f = layout.format;
    const bool trees = f < 13 || layout.type_trees;
    Out m(layout.big_endian);
    m.zero_ended(layout.unity_version);
    m.u32(5);  // platform
    if (f >= 13) m.u8(trees ? 1 : 0);
    // The types: GameObject (1, a tree of one int) and AudioClip (83).
    const std::vector<Node> other_tree = {{"GameObject", "Base", 0, -1, 0, 0}, {"int", "m_Layer", 1, 4, 0, 0}};
    const std::vector<Node> tree = clip_tree(layout);
    m.u32(2);
    for (int t = 0; t < 2; ++t) {
        m.u32(t == 0 ? 1 : 83);
        if (f >= 16) m.u8(0);
        if (f >= 17) m.u16(0xFFFF);
        if (f >= 13) m.bytes.insert(m.bytes.end(), 16, static_cast<std::uint8_t>(0xA0 + t));
        if (trees) {
            std::size_t at = 0;
            write_tree(m, layout, t == 0 ? other_tree : tree, at, 0);
            if (f >= 21) m.u32(0);
        }
    }
    if (f < 14) m.u32(0);  // 32-bit path IDs
    // Objects: their data, then the table that points to it.
    std::vector<Bytes> data;
    std::vector<std::pair<std::int64_t, int>> ids;  // path ID, type index
    if (layout.other_object) {
        Out g(layout.big_endian);
        g.u32(7);
        data.push_back(g.bytes);
        ids.push_back({1000, 0});
    }
    for (const Clip& clip : clips) {
        data.push_back(clip_bytes(layout, clip));
        ids.push_back({clip.path_id, 1});
    }
    std::vector<std::uint64_t> starts;
    std::uint64_t next = 0;
    for (const Bytes& d : data) {
        starts.push_back(next);
        next = (next + d.size() + 7) / 8 * 8;
    }
    const std::size_t head = f >= 22 ? 48 : 20;
    m.u32(data.size());
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (f >= 14) {
            while ((head + m.bytes.size()) % 4) m.bytes.push_back(0);
            m.u64(static_cast<std::uint64_t>(ids[i].first));
        } else {
            m.u32(static_cast<std::uint64_t>(ids[i].first));
        }
        if (f >= 22) m.u64(starts[i]);
        else m.u32(starts[i]);
        m.u32(data[i].size());
        const int class_id = ids[i].second == 0 ? 1 : 83;
        m.u32(f >= 16 ? static_cast<std::uint32_t>(ids[i].second) : static_cast<std::uint32_t>(class_id));
        if (f < 16) m.u16(static_cast<std::uint64_t>(class_id));
        if (f < 11) m.u16(0);
        if (f >= 11 && f < 17) m.u16(0xFFFF);
        if (f == 15 || f == 16) m.u8(0);
    }
    m.u32(0);  // script types
    m.u32(0);  // externals
    if (f >= 20) m.u32(0);  // referenced types
    m.u8(0);   // user information
    const std::uint64_t data_offset = (head + m.bytes.size() + 15) / 16 * 16;
    const std::uint64_t file_size = data_offset + next;
    Out h(true);  // the header is big-endian whatever the file's order
    if (f >= 22) {
        h.u32(0);
        h.u32(0);
        h.u32(f);
        h.u32(0);
    } else {
        h.u32(m.bytes.size());
        h.u32(file_size);
        h.u32(f);
        h.u32(data_offset);
    }
    h.u8(layout.big_endian ? 1 : 0);
    h.u8(0);
    h.u8(0);
    h.u8(0);
    if (f >= 22) {
        h.u32(m.bytes.size());
        h.u64(file_size);
        h.u64(data_offset);
        h.u64(0);
    }
    Bytes file = h.bytes;
    file.insert(file.end(), m.bytes.begin(), m.bytes.end());
    file.resize(data_offset, 0);
    for (std::size_t i = 0; i < data.size(); ++i) {
        file.resize(data_offset + starts[i], 0);
        file.insert(file.end(), data[i].begin(), data[i].end());
    }
    file.resize(file_size, 0);
    return file;
}

}  // namespace unitywriter
