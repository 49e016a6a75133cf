// Where the tool's console text goes: straight to its stream, or, while a
// sound is written on a worker of the options form, into that sound's own
// record, printed whole and in sound order afterwards (so the output is the
// same whatever the number of workers, and no line holds two workers' text).
#pragma once

#include <cstdio>
#include <string>

struct ConsoleCapture {
    std::string out;  // for standard output (progress lines)
    std::string err;  // for standard error (reports)
};

// From now on this thread's console text goes into `into`; null: to the
// streams again.
void capture_console(ConsoleCapture* into);

// Writes `text` to `stream` (stdout or stderr) at once, or into the
// capture. A closed standard output ends the run, as it always has.
void console_write(std::FILE* stream, const std::string& text);

// Prints what was captured, standard output's part first.
void print_captured(const ConsoleCapture& captured);
