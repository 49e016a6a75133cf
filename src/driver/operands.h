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
};

// Whether a file's name says it is a bank: it ends in ".fsb" or ".bank", or
// has ".fsb" before its last extension (".fsb.xen", ".fsb.ps3"), in any case.
bool named_like_a_bank(const std::string& path);

struct OperandProblem {
    std::string path;
    std::string reason;
};

// Walks folders (recursively, links not followed) and, on Windows, expands
// wildcards. Operands that are missing or cannot be walked go to `problems`.
std::vector<BankJob> bank_jobs(const std::vector<std::string>& operands, std::vector<OperandProblem>& problems);
