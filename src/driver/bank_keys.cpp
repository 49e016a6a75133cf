#include "driver/bank_keys.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace {

// A key file bigger than this holds something else than a key.
constexpr std::size_t kMaxKeyFileBytes = 4096;

std::string folder_of(const std::string& path) {
#if defined(_WIN32)
    const std::size_t cut = path.find_last_of("/\\:");
#else
    const std::size_t cut = path.find_last_of('/');
#endif
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

bool is_regular_file(const std::string& path) {
    // Only a regular file: opening a FIFO would wait for a writer.
    std::error_code error;
    return std::filesystem::is_regular_file(std::filesystem::path(path), error);
}

std::string read_key_file(const std::string& path) {
    if (!is_regular_file(path)) return {};
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return {};
    std::string key(kMaxKeyFileBytes + 1, '\0');
    key.resize(std::fread(key.data(), 1, key.size(), f));
    std::fclose(f);
    if (key.size() > kMaxKeyFileBytes) return {};
    if (!key.empty() && key.back() == '\n') {
        key.pop_back();
        if (!key.empty() && key.back() == '\r') key.pop_back();
    }
    return key;
}

}  // namespace

std::vector<std::string> bank_keys(const std::string& bank_path, const std::vector<std::string>& given_keys) {
    std::vector<std::string> keys;
    for (const std::string& k : given_keys) {
        if (!k.empty()) keys.push_back(k);
    }
    if (!keys.empty()) return keys;
    const char* env = std::getenv("BANKRIP_KEY");
    if (env && *env) return {env};
    std::string from_file = read_key_file(folder_of(bank_path) + ".fsbkey");
    if (!from_file.empty()) keys.push_back(std::move(from_file));
    return keys;
}

std::string key_hint(bool options_form) {
    return std::string(options_form ? "use --key, " : "") +
           "set BANKRIP_KEY or put the key in a file .fsbkey beside the bank";
}

std::string encryption_advice(FMOD_SYSTEM* system, bool options_form, const std::string& bank_path) {
    int tried = 0;
    if (!soundlib_system_open_encrypted(system, &tried) || tried > 0) return {};
    const std::string key_file = folder_of(bank_path) + ".fsbkey";
    std::error_code error;
    if (is_regular_file(key_file) && std::filesystem::file_size(std::filesystem::path(key_file), error) > kMaxKeyFileBytes &&
        !error) {
        return "; the .fsbkey beside it is larger than " + std::to_string(kMaxKeyFileBytes) +
               " bytes, so it was not taken as a key; to give its key, " +
               std::string(options_form ? "use --key or " : "") + "set BANKRIP_KEY, or put only the key in .fsbkey";
    }
    return "; to give its key, " + key_hint(options_form);
}

KeyExinfo::KeyExinfo(const std::vector<std::string>& keys) {
    for (const std::string& k : keys) {
        pointers_.push_back(k.data());
        lengths_.push_back(static_cast<unsigned int>(k.size()));
    }
    exinfo_.cbsize = static_cast<int>(sizeof exinfo_);
    exinfo_.numencryptionkeys = static_cast<int>(pointers_.size());
    exinfo_.encryptionkeys = pointers_.data();
    exinfo_.encryptionkeylengths = lengths_.data();
}
