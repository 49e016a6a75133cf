// The options form's operands turned into the banks to read, each with the
// folder its sounds go into.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

struct BankJob {
    std::string path;
    // Under the output folder, the folder this bank's sounds go into, level
    // by level as found ({"Audio", "Music"} for Audio/Music.bank): empty for
    // the one bank of a run, which writes straight into the output folder.
    // Each level is made a name, and the last numbered, only when the bank
    // has sounds to write (see BankFolders).
    std::vector<std::string> levels;
    // Named on the command line; false for a file found in a folder, which
    // is passed over quietly when it holds no bank and is not named like one.
    bool named = true;
    // For a file found in a folder: the file the walk saw.
    platform::FileId seen;
    // Found through a symbolic link: opened through it, and read only when
    // it is still the file the walk saw.
    bool via_link = false;
};

// Whether a file's name says it is a bank: it ends in ".fsb" or ".bank", or
// has ".fsb" before its last extension (".fsb.xen", ".fsb.ps3"), in any case.
bool named_like_a_bank(const std::string& path);

struct OperandProblem {
    std::string path;
    std::string reason;
    std::size_t before = 0;  // comes before this job: operands stay in command-line order
};

// Walks folders (recursively, following symbolic links to files and folders;
// each file and folder taken once, however many links reach it, so a cycle
// ends) and, on Windows, expands
// wildcards. Operands that are missing or cannot be walked go to `problems`.
std::vector<BankJob> bank_jobs(const std::vector<std::string>& operands, std::vector<OperandProblem>& problems);
