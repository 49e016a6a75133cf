#include "driver/replace_form.h"

#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "driver/bank_keys.h"
#include "driver/destination.h"
#include "driver/replace_names.h"
#include "platform/platform.h"
#include "result/result.h"
#include "soundlib/bank.h"
#include "soundlib/bank/bank_writer.h"
#include "wav/console.h"
#include "wav/extract_subsound.h"

namespace {

void say(const std::string& text) { console_write(stderr, "bankrip: " + printable_name(text) + "\n"); }

// The rebuilt bank goes into an OutputFile: under a temporary name until
// it is complete.
class FileSink : public soundlib::ByteSink {
public:
    explicit FileSink(platform::OutputFile& file) : file_(file) {}
    bool write(const void* data, std::size_t size) override { return file_.write(data, size); }
    bool copy(const soundlib::BankFile& bank, std::uint64_t offset, std::uint64_t size, bool& unsupported) override {
        return file_.copy_from(bank.native_handle(), offset, size, unsupported);
    }

private:
    platform::OutputFile& file_;
};

// Paths are UTF-8 here, on every system.
std::filesystem::path as_path(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}
std::string as_text(const std::filesystem::path& path) {
    const std::u8string u8 = path.u8string();
    return std::string(u8.begin(), u8.end());
}

std::string base_name(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string joined(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    const char last = folder.back();
    return last == '/' || last == '\\' ? folder + name : folder + platform::kSeparator + name;
}

}  // namespace

int run_replace(const Options& options, FMOD_SYSTEM* system) {
    if (options.operands.size() != 1) {
        say("--replace rebuilds one bank at a time; give exactly one bank");
        return 2;
    }
    if (options.scan) {
        say("--replace cannot rebuild banks found with --scan inside other files");
        return 2;
    }
    if (!options.sounds.all()) {
        say("--sound does not go with --replace: the files in the folder say which sounds change");
        return 2;
    }
    const std::string& path = options.operands.front();
    const std::vector<std::string> keys = bank_keys(path, options.keys);
    KeyExinfo key_info(keys);
    FMOD_SOUND* handle = nullptr;
    const FMOD_RESULT opened = FMOD_System_CreateSound(system, path.c_str(), FMOD_CREATESTREAM, key_info.get(), &handle);
    if (opened != FMOD_OK) {
        const char* detail = soundlib_system_error_detail(system);
        say(path + ": " + (detail && *detail ? std::string(detail) : "cannot be read as a bank"));
        return 1;
    }
    struct Release {
        FMOD_SOUND* h;
        ~Release() { FMOD_Sound_Release(h); }
    } release{handle};
    soundlib::Bank& bank = *handle->bank;
    soundlib::BankRebuild rebuild;
    {
        std::string why;
        if (!rebuild.check(bank, why)) {
            say(path + ": " + why);
            return 1;
        }
    }

    // The files of the folder, by name.
    std::map<std::string, std::string> files;  // name -> path
    {
        std::error_code ec;
        std::filesystem::directory_iterator it(as_path(options.replace), ec), end;
        if (ec) {
            say(options.replace + ": cannot be read as a folder (" + ec.message() + ")");
            return 1;
        }
        for (; it != end; it.increment(ec)) {
            if (ec) break;
            if (it->is_directory(ec)) continue;
            const std::string name = as_text(it->path().filename());
            files[name] = as_text(it->path());
        }
        if (ec) {
            say(options.replace + ": cannot be read to its end (" + ec.message() + ")");
            return 1;
        }
    }

    // Each sound's file as unpacking names it, in each of its ways: WAV,
    // FLAC (with WAV where FLAC cannot hold a sound), and either of them
    // with Vorbis and MPEG sounds as .ogg and .mp3.
    int count = 0;
    FMOD_Sound_GetNumSubSounds(handle, &count);
    // Named as the unpack named them: on a volume that takes names differing
    // only in case as one, such names were numbered as repeats.
    platform::OutputFolder replace_folder;
    std::string folder_error;
    const bool fold_case = count > 0 && replace_folder.open(options.replace, folder_error) &&
                           replace_folder.folds_case();
    std::vector<std::vector<std::string>> names_by_style;
    try {
        for (const OutputFormat format : {OutputFormat::wav, OutputFormat::flac}) {
            for (const bool keep : {false, true}) {
                ExtractStyle style;
                style.always_wav = true;
                style.format = format;
                style.keep_original = keep;
                style.no_empty_files = true;
                UsedNames used;
                used.fold_case = fold_case;
                std::vector<std::string>& names = names_by_style.emplace_back(static_cast<std::size_t>(count));
                for (int index = 0; index < count; ++index) {
                    FMOD_SOUND* subsound = nullptr;
                    check_result(FMOD_Sound_GetSubSound(handle, index, &subsound));
                    names[static_cast<std::size_t>(index)] = subsound_file_name(subsound, index, used, style);
                }
            }
        }
    } catch (const LibraryFailure& failure) {
        std::string text = result_message(failure.result);
        while (!text.empty() && text.back() == ' ') text.pop_back();
        say(path + ": " + text);
        return 1;
    }
    std::vector<std::string> file_names;
    for (const auto& [name, file] : files) file_names.push_back(name);
    const ReplaceMatch match = match_replacement_files(names_by_style, file_names);
    std::vector<std::string> names = names_by_style[match.style];
    std::map<int, std::pair<std::string, std::string>> given;
    for (const auto& [index, name] : match.file_of) {
        given[index] = {files.at(name), joined(options.replace, name)};
        names[static_cast<std::size_t>(index)] = name;
    }
    std::vector<std::string> errors;
    for (const auto& [index, list] : match.doubled) {
        std::string text;
        for (std::size_t k = 0; k < list.size(); ++k) {
            text += (k == 0 ? "" : k + 1 == list.size() ? " and " : ", ") + joined(options.replace, list[k]);
        }
        errors.push_back(text + ": all are files of sound " + std::to_string(index) +
                         "; give one of them");
    }
    for (const std::string& name : match.unmatched) {
        errors.push_back(joined(options.replace, name) + ": matches no sound of " + path +
                         " (files are named as unpacking names the sounds)");
    }

    rebuild.plan(bank, given, errors);

    // What becomes of each sound, before anything is written.
    const std::string out_name = base_name(path);
    const std::string out_path = joined(options.output, out_name);
    if (options.json) {
        nlohmann::ordered_json doc;
        doc["bank"] = path;
        doc["output"] = out_path;
        nlohmann::ordered_json sounds = nlohmann::ordered_json::array();
        for (const soundlib::SoundDecision& d : rebuild.decisions()) {
            nlohmann::ordered_json s;
            s["index"] = d.index;
            s["file"] = names[static_cast<std::size_t>(d.index)];
            s["status"] = d.replaced ? "replaced" : "kept";
            if (!d.file.empty()) s["from"] = d.file;
            if (d.replaced) s["how"] = d.copied.empty() ? "encoded" : "copied";
            if (!d.not_copied.empty()) s["not_copied"] = d.not_copied;
            sounds.push_back(std::move(s));
        }
        doc["sounds"] = std::move(sounds);
        nlohmann::ordered_json errs = nlohmann::ordered_json::array();
        for (const std::string& e : errors) errs.push_back(e);
        doc["errors"] = std::move(errs);
        console_write(stdout, doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
    } else if (options.list || !options.quiet) {
        std::FILE* out = options.list ? stdout : stderr;
        for (const soundlib::SoundDecision& d : rebuild.decisions()) {
            std::string line = std::to_string(d.index) + "  " + names[static_cast<std::size_t>(d.index)] + "  ";
            if (d.replaced) {
                line += "replaced from " + d.file +
                        (!d.copied.empty()       ? " (its " + d.copied + " as they are)"
                         : d.not_copied.empty() ? " (encoded)"
                                                : " (encoded, not copied as it is: " + d.not_copied + ")");
            } else if (!d.file.empty()) {
                line += "kept (" + d.file + " holds its own samples)";
            } else {
                line += "kept";
            }
            console_write(out, printable_name(line) + "\n");
        }
    }
    for (const std::string& e : errors) say(e);
    if (!errors.empty()) {
        say("nothing written: " + std::to_string(errors.size()) + (errors.size() == 1 ? " problem" : " problems"));
        return 1;
    }
    if (options.list) return 0;

    // Never over the bank itself.
    unsigned long long device = 0, inode = 0;
    platform::FileId bank_id;
    if (soundlib_bank_file_identity(handle, &device, &inode) == FMOD_OK) bank_id = {true, device, inode};
    const platform::FileId there = platform::file_id(out_path);
    if (bank_id.known && there.known && there.device == bank_id.device && there.file == bank_id.file) {
        say(out_path + ": refused: it is the bank being rebuilt; give another folder with -o");
        return 1;
    }
    const std::string destination = options.output.empty() ? std::string() : destination_text(options.output.c_str());
    if (!prepare_destination(destination, "")) return 1;
    platform::OutputFolder folder;
    if (!open_destination(folder, destination)) return 1;
    platform::OutputFile file;
    if (!file.create(folder, out_name, out_path, bank_id)) {
        say(out_path + ": " + file.error());
        return 1;
    }
    FileSink sink(file);
    std::string error;
    if (!rebuild.write(sink, error)) {
        say(out_path + ": " + error + (file.error().empty() ? "" : " (" + file.error() + ")") +
            "; nothing written");
        file.discard();
        return 1;
    }
    if (!file.close() || !file.commit()) {
        say(out_path + ": " + file.error() + "; nothing written");
        file.discard();
        return 1;
    }
    int replaced = 0;
    for (const soundlib::SoundDecision& d : rebuild.decisions()) replaced += d.replaced;
    if (!options.quiet) {
        say(out_path + ": written, " + std::to_string(replaced) + " of " + std::to_string(count) +
            " sounds replaced");
    }
    return 0;
}
