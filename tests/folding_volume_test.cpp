// Writing to a real case-folding volume: exFAT through exfat-fuse, which
// takes Boom, boom and BOOM as one file but gives each spelling an inode of
// its own. Every sound must land in a file of its own, holding its own
// samples, and the tree, lines and JSON must not depend on -j. Needs root,
// /dev/fuse, a loop device and exfat-fuse; skipped, saying why, without.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <set>

#include "bank_writer.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

#if !defined(_WIN32)
#include <unistd.h>

namespace {

using bankwriter::Bytes;
using bankwriter::Sound;

Sound pcm(const std::string& name, std::uint32_t frames, std::uint32_t seed) {
    Sound s;
    s.name = name;
    s.frames = frames;
    s.data.resize(frames * 2u);
    for (std::size_t i = 0; i < s.data.size(); ++i) s.data[i] = static_cast<std::uint8_t>(i * seed + seed * 7);
    return s;
}

bool quiet(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// A 64 MiB exFAT image on a loop device, mounted through FUSE while the
// object lives.
class ExfatVolume {
public:
    explicit ExfatVolume(const TempDir& dir) : image_(dir.file("exfat.img")), mount_(dir.file("volume")) {
        if (geteuid() != 0) { why_not_ = "not root"; return; }
        if (!std::filesystem::exists("/dev/fuse")) { why_not_ = "no /dev/fuse"; return; }
        if (!quiet("command -v mount.exfat-fuse") || !quiet("command -v mkfs.exfat")) {
            { why_not_ = "exfat-fuse or exfatprogs is not installed"; return; }
        }
        std::filesystem::create_directories(mount_);
        if (!quiet("truncate -s 64M '" + image_ + "' && mkfs.exfat '" + image_ + "'")) { why_not_ = "mkfs.exfat failed"; return; }
        char device[256] = {};
        if (FILE* p = popen(("losetup -f --show '" + image_ + "' 2>/dev/null").c_str(), "r")) {
            if (!std::fgets(device, sizeof device, p)) device[0] = '\0';
            pclose(p);
        }
        device_ = device;
        while (!device_.empty() && device_.back() == '\n') device_.pop_back();
        if (device_.empty()) { why_not_ = "no loop device"; return; }
        if (!quiet("mount.exfat-fuse '" + device_ + "' '" + mount_ + "'")) { why_not_ = "the FUSE mount failed"; return; }
        mounted_ = true;
    }
    ~ExfatVolume() {
        if (mounted_) quiet("umount '" + mount_ + "'");
        if (!device_.empty()) quiet("losetup -d '" + device_ + "'");
    }
    bool ready() const { return mounted_; }
    const std::string& why_not() const { return why_not_; }
    std::string file(const std::string& name) const { return mount_ + "/" + name; }

private:
    std::string image_, mount_, device_, why_not_;
    bool mounted_ = false;
};

// Every file below `folder` (relative name, in the case the folder lists)
// with its bytes.
std::map<std::string, Bytes> tree(const std::string& folder) {
    std::map<std::string, Bytes> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder)) {
        if (e.is_regular_file()) {
            files[std::filesystem::relative(e.path(), folder).generic_string()] = read_file(e.path().string());
        }
    }
    return files;
}

std::string without(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
        text.replace(at, from.size(), to);
    }
    return std::regex_replace(text, std::regex(" in [0-9.]+ s"), " in X s");
}

// The audio of each WAV file (after its 44-byte header), all different:
// no file holds another sound's samples, and none is missing.
void expect_each_sound_once(const std::map<std::string, Bytes>& files, std::size_t sounds) {
    std::set<std::string> audio;
    for (const auto& [name, bytes] : files) {
        ASSERT_GT(bytes.size(), 44u) << name;
        audio.insert(std::string(bytes.begin() + 44, bytes.end()));
    }
    EXPECT_EQ(sounds, files.size());
    EXPECT_EQ(sounds, audio.size()) << "a file holds another sound's samples";
}

TEST(FoldingVolume, NamesTheVolumeTakesAsOneNeverReplaceEachOtherUnderAnyJobs) {
    TempDir dir;
    ExfatVolume volume(dir);
    if (!volume.ready()) GTEST_SKIP() << "no exFAT volume to test on: " << volume.why_not();
    // ASCII and non-ASCII letters alike but for case, and two banks whose
    // names the volume folds into one folder.
    std::vector<Sound> sounds;
    const char* names[] = {"Boom", "boom", "BOOM", "\xC3\x89" "0", "\xC3\xA9" "0", "\xC3\x89" "1", "\xC3\xA9" "1",
                           "\xCE\xA3", "\xCF\x83", "plain"};
    std::uint32_t seed = 1;
    for (const char* n : names) sounds.push_back(pcm(n, 3000 + 97 * seed, seed)), ++seed;
    std::filesystem::create_directories(dir.file("game"));
    write_file(dir.file("game/Music.fsb"), bankwriter::write_fsb5(sounds, 2));
    std::vector<Sound> other;
    for (std::uint32_t i = 0; i < 3; ++i) other.push_back(pcm(names[i], 2000 + i, 40 + i));
    write_file(dir.file("game/music.fsb"), bankwriter::write_fsb5(other, 2));

    std::map<std::string, Bytes> first;
    std::string first_out, first_err;
    for (const char* jobs : {"1", "2", "8"}) {
        const std::string out = volume.file(std::string("out-") + jobs);
        const ToolRun run = run_bankrip({"--json", "-j", jobs, "-o", out, dir.file("game")});
        EXPECT_EQ(0, run.status) << jobs << ": " << run.err;
        const std::map<std::string, Bytes> files = tree(out);
        // Two folders, one per bank, each sound in a file of its own.
        std::set<std::string> folders;
        for (const auto& [name, bytes] : files) folders.insert(name.substr(0, name.find('/')));
        EXPECT_EQ(2u, folders.size()) << jobs;
        expect_each_sound_once(files, sounds.size() + other.size());
        const std::string said = without(run.out, out, "OUT");
        const std::string told = without(run.err, out, "OUT");
        if (first.empty()) {
            first = files, first_out = said, first_err = told;
            continue;
        }
        EXPECT_TRUE(files == first) << "-j " << jobs << " wrote another tree";
        EXPECT_EQ(first_out, said) << jobs;
        EXPECT_EQ(first_err, told) << jobs;
    }
}

// The bank-first form on the same volume: one bank's names folded together
// are refused or numbered, never written over each other.
TEST(FoldingVolume, TheBankFirstFormNeverWritesOneSoundOverAnother) {
    TempDir dir;
    ExfatVolume volume(dir);
    if (!volume.ready()) GTEST_SKIP() << "no exFAT volume to test on: " << volume.why_not();
    write_file(dir.file("b.fsb"), bankwriter::write_fsb5({pcm("Boom", 3000, 1), pcm("boom", 3100, 2),
                                                          pcm("BOOM", 3200, 3)},
                                                         2));
    const std::string out = volume.file("first");
    std::filesystem::create_directories(out);
    const ToolRun run = run_bankrip({dir.file("b.fsb"), out});
    const std::map<std::string, Bytes> files = tree(out);
    ASSERT_FALSE(files.empty()) << run.err;
    std::set<std::string> audio;
    for (const auto& [name, bytes] : files) audio.insert(std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(files.size(), audio.size());
    // What is not written is said.
    if (files.size() < 3) {
        EXPECT_EQ(1, run.status) << run.err;
    }
}

}  // namespace

#endif
