#include "driver/program_folder.h"

#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "wav/console.h"
#include "wav/output_name.h"

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <iconv.h>
#include <langinfo.h>
#include <unistd.h>

#include <clocale>
#include <vector>
#endif

namespace {

constexpr const char* USAGE_HEAD =
    "Usage : bankrip <fsb_name> [dest_dir]\n"
    "           fsb_name  *.fsb\n"
    "           dest_dir  ";
// "出力先(省略可)" (output destination, may be left out) in Shift_JIS, byte for
// byte as the tool has always printed it, and in UTF-8.
constexpr const char* DEST_DIR_SHIFT_JIS = "\x8F\x6F\x97\xCD\x90\xE6\x28\x8F\xC8\x97\xAA\x89\xC2\x29";
constexpr const char* DEST_DIR_UTF8 =
    "\xE5\x87\xBA\xE5\x8A\x9B\xE5\x85\x88(\xE7\x9C\x81\xE7\x95\xA5\xE5\x8F\xAF)";
constexpr const char* HELP_LINE = "For the options form (folders, FLAC, listings, JSON): bankrip --help\n";

#if !defined(_WIN32)
// The UTF-8 text in the terminal's encoding, as the locale names it; the
// Shift_JIS bytes when it has no way to show it.
std::string in_terminal_encoding(const std::string& utf8) {
    std::setlocale(LC_CTYPE, "");
    const std::string codeset = nl_langinfo(CODESET);
    if (codeset == "UTF-8" || codeset == "utf8") return utf8;
    const iconv_t cd = iconv_open(codeset.c_str(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return DEST_DIR_SHIFT_JIS;
    std::vector<char> out(utf8.size() * 4 + 16);
    char* in = const_cast<char*>(utf8.data());
    std::size_t in_left = utf8.size();
    char* to = out.data();
    std::size_t out_left = out.size();
    const std::size_t converted = iconv(cd, &in, &in_left, &to, &out_left);
    iconv_close(cd);
    if (converted == static_cast<std::size_t>(-1) || in_left != 0) return DEST_DIR_SHIFT_JIS;
    return std::string(out.data(), static_cast<std::size_t>(to - out.data()));
}
#endif

}  // namespace

bool is_system_program_folder(const std::string& folder) {
#if defined(_WIN32)
    (void)folder;
    return false;  // a Windows program sits in a folder of its own
#else
    for (const char* system : {"/usr/bin/", "/usr/local/bin/", "/bin/", "/usr/sbin/", "/usr/local/sbin/", "/sbin/",
                               "/usr/games/", "/usr/local/games/"}) {
        if (folder == system) return true;
    }
    return false;
#endif
}

std::string enter_program_directory() {
    const std::string folder = platform::executable_folder();
    if (folder.empty()) return folder;
    if (is_system_program_folder(folder)) {
        console_write(stderr, "bankrip: installed in " + printable_name(folder) +
                                  ", so relative paths are taken from the current folder, and files go there "
                                  "when no dest_dir is given\n");
        return {};
    }
    platform::enter_directory(folder);
    return folder;
}

void print_usage() {
#if defined(_WIN32)
    const bool terminal = _isatty(_fileno(stdout)) != 0;
#else
    const bool terminal = isatty(1) != 0;
#endif
    if (!terminal) {
        std::fputs(USAGE_HEAD, stdout);
        std::fputs(DEST_DIR_SHIFT_JIS, stdout);
        std::fputs("\n", stdout);
        return;
    }
#if defined(_WIN32)
    // The console shows UTF-16 whatever its code page.
    const std::string text = std::string(USAGE_HEAD) + DEST_DIR_UTF8 + "\n" + HELP_LINE;
    std::fflush(stdout);
    const int wide_length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), wide_length);
    DWORD written = 0;
    if (!WriteConsoleW(GetStdHandle(STD_OUTPUT_HANDLE), wide.data(), static_cast<DWORD>(wide.size()), &written,
                       nullptr)) {
        std::fputs(text.c_str(), stdout);  // a terminal that is no console (mintty, say)
    }
#else
    std::fputs(USAGE_HEAD, stdout);
    std::fputs(in_terminal_encoding(DEST_DIR_UTF8).c_str(), stdout);
    std::fputs("\n", stdout);
    std::fputs(HELP_LINE, stdout);
#endif
}
