// The options form's operands turned into the banks to read, each with the
// folder its sounds go into.
#pragma once

#include <string>
#include <vector>

struct BankJob {
    std::string path;
    // Under the output folder, where this bank's sounds go: empty for the
    // one bank of a run, otherwise a folder of its own ("Audio/Music/" for
    // Audio/Music.bank), ending with the separator.
    std::string folder;
    // Named on the command line; false for a file found in a folder, which
    // is passed over quietly when it holds no bank.
    bool named = true;
};

struct OperandProblem {
    std::string path;
    std::string reason;
};

// Walks folders (recursively, links not followed) and, on Windows, expands
// wildcards. Operands that are missing or cannot be walked go to `problems`.
std::vector<BankJob> bank_jobs(const std::vector<std::string>& operands, std::vector<OperandProblem>& problems);
