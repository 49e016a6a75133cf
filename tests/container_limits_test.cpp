// The container reader on files made to cost: repeated oddities, deep LIST
// nesting, long zero padding. Each must keep its sounds, and notes and time
// stay bounded whatever the file's size.
#include <gtest/gtest.h>

#include <chrono>

#include "bank_writer.h"
#include "soundlib/bank.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace soundlib {
namespace {

using bankwriter::Bytes;

Bytes small_bank(std::uint8_t fill) {
    bankwriter::Sound s;
    s.name = "s0.wav";
    s.name[1] = static_cast<char>('0' + fill);
    s.frames = 6;
    s.data.assign(12, fill);
    return bankwriter::write_fsb5({s}, 2);
}

void append_chunk(Bytes& b, const char* id, const Bytes& payload) {
    b.insert(b.end(), id, id + 4);
    const std::size_t at = b.size();
    b.resize(b.size() + 4);
    bankwriter::put32(b, at, static_cast<std::uint32_t>(payload.size()));
    b.insert(b.end(), payload.begin(), payload.end());
    if (payload.size() & 1) b.push_back(0);
}

Bytes riff_fev(const Bytes& body) {
    Bytes b{'F', 'E', 'V', ' '};
    b.insert(b.end(), body.begin(), body.end());
    Bytes file;
    append_chunk(file, "RIFF", b);
    return file;
}

Bytes list(const Bytes& inside) {
    Bytes payload{'L', 'V', 'L', ' '};
    payload.insert(payload.end(), inside.begin(), inside.end());
    Bytes chunk;
    append_chunk(chunk, "LIST", payload);
    return chunk;
}

struct Opened {
    TempDir dir;
    Bank bank;
    BankReadError error;
    double seconds = 0;
};

std::unique_ptr<Opened> open_bytes(const Bytes& bytes) {
    auto o = std::make_unique<Opened>();
    write_file(o->dir.file("f.bank"), bytes);
    const auto start = std::chrono::steady_clock::now();
    o->error = o->bank.open(o->dir.file("f.bank"));
    o->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return o;
}

// 16 MB of empty "SND " chunks: ten notes, then one that counts the rest.
TEST(ContainerLimits, RepeatedOdditiesAreCountedNotRepeated) {
    Bytes body;
    append_chunk(body, "SND ", small_bank(1));
    constexpr std::size_t kEmpty = 2 * 1024 * 1024;
    const std::size_t at = body.size();
    body.resize(at + kEmpty * 8);
    for (std::size_t i = 0; i < kEmpty; ++i) std::copy_n("SND \0\0\0\0", 8, body.begin() + at + i * 8);
    auto o = open_bytes(riff_fev(body));
    ASSERT_EQ(FMOD_OK, o->error.code) << o->error.detail.substr(0, 300);
    EXPECT_EQ(1, o->bank.count());
    ASSERT_EQ(11u, o->bank.notes().size());
    EXPECT_NE(std::string::npos, o->bank.notes().back().text.find("and " + std::to_string(kEmpty - 10) + " more"))
        << o->bank.notes().back().text;
    EXPECT_TRUE(o->bank.notes().back().damage);
    EXPECT_NE(std::string::npos, o->bank.notes()[0].text.find("too small")) << o->bank.notes()[0].text;
    EXPECT_LT(o->bank.notes_text().size(), 4000u);
    EXPECT_LT(o->seconds, 5.0);

    // Without a readable bank the reasons become the failure: bounded too.
    o = open_bytes(riff_fev(Bytes(body.begin() + static_cast<std::ptrdiff_t>(at), body.end())));
    EXPECT_EQ(FMOD_ERR_FORMAT, o->error.code);
    EXPECT_LT(o->error.detail.size(), 4000u);
    EXPECT_NE(std::string::npos, o->error.detail.find("more")) << o->error.detail.substr(0, 300);
    EXPECT_FALSE(o->bank.open_report().maybe_encrypted);  // empty chunks are not encrypted ones
}

TEST(ContainerLimits, SoundChunksUnderAnyDepthOfListsAreRead) {
    Bytes inner;
    append_chunk(inner, "SND ", small_bank(7));
    for (int depth = 0; depth < 40; ++depth) inner = list(inner);
    Bytes body = inner;
    append_chunk(body, "SND ", small_bank(8));  // and the walk comes back up to find this one
    auto o = open_bytes(riff_fev(body));
    ASSERT_EQ(FMOD_OK, o->error.code) << o->error.detail;
    EXPECT_EQ(2, o->bank.count());
    EXPECT_EQ("s7.wav", o->bank.name(0));
    EXPECT_EQ("s8.wav", o->bank.name(1));
    EXPECT_TRUE(o->bank.notes().empty()) << o->bank.notes_text();
}

TEST(ContainerLimits, ZeroPaddingOfAnyLengthBetweenBanksIsSkipped) {
    for (const std::size_t zeros : {std::size_t{65537}, std::size_t{10} * 1024 * 1024}) {
        Bytes file = small_bank(1);
        file.resize(file.size() + zeros);
        const Bytes second = small_bank(2);
        file.insert(file.end(), second.begin(), second.end());
        auto o = open_bytes(file);
        ASSERT_EQ(FMOD_OK, o->error.code) << o->error.detail;
        EXPECT_EQ(2, o->bank.count()) << zeros;
        EXPECT_TRUE(o->bank.notes().empty()) << o->bank.notes_text();
        EXPECT_LT(o->seconds, 2.0);
    }
}

// What the tool prints for the 16 MB file: a dozen lines, not millions.
TEST(ContainerLimitsInTheTool, NotesStayAFewLines) {
    Bytes body;
    append_chunk(body, "SND ", small_bank(1));
    for (int i = 0; i < 20000; ++i) body.insert(body.end(), {'S', 'N', 'D', ' ', 0, 0, 0, 0});
    TempDir dir;
    write_file(dir.file("f.bank"), riff_fev(body));
    const ToolRun run = run_bankrip({dir.file("f.bank"), dir.file("out")});
    EXPECT_EQ(1, run.status);
    EXPECT_LT(run.err.size(), 4000u);
    EXPECT_NE(std::string::npos, run.err.find("and 19990 more \"SND \" chunks that do not hold an FSB bank"))
        << run.err;
}

}  // namespace
}  // namespace soundlib
