// Where the bank-first form takes relative paths from, and its usage text.
#pragma once

#include <string>

// A folder where installed programs live (/usr/bin, /usr/local/bin, ...):
// nobody looks for sounds there, and files written there do harm.
bool is_system_program_folder(const std::string& folder);

// Relative paths are taken from the executable's folder, unless that is a
// system program folder: then from the current folder, which is said once
// on standard error. Returns the folder entered, or nothing when the tool
// stays where it was started.
std::string enter_program_directory();

// The usage of `bankrip` without arguments, byte for byte as it has always
// been; on a terminal, its Japanese line in the terminal's own encoding and
// a line naming the options form's help after it.
void print_usage();
