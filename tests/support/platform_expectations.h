// What the tests expect where Windows and POSIX systems differ.
#pragma once

#include <string>

// What a program's exit(-1) shows as to the one that started it: POSIX keeps
// the low 8 bits of the status, Windows the whole 32-bit code.
#if defined(_WIN32)
constexpr int kExitMinusOne = -1;
constexpr const char* kExecutableSuffix = ".exe";
#else
constexpr int kExitMinusOne = 255;
constexpr const char* kExecutableSuffix = "";
#endif

// Text as a console program writes it: on Windows standard output and
// standard error are in text mode, and each "\n" goes out as "\r\n".
std::string console_text(const std::string& text);

// The failures the tests provoke, and the system's own words for them.
enum class SystemError {
    parent_is_a_file,   // a path through a regular file, as if it were a folder
    name_is_a_folder,   // creating a file where a folder of that name is
};
std::string system_text(SystemError error);
