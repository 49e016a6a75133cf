// A fresh folder for one test, removed with everything in it afterwards.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + separator + name, each "/" in name standing for the separator.
    std::string file(std::string name) const;

private:
    std::string path_;
};

std::vector<std::uint8_t> read_file(const std::string& path);
void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes);
bool file_exists(const std::string& path);
// The names of the files in a folder, sorted.
std::vector<std::string> list_dir(const std::string& path);
