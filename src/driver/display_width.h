// How much of a terminal line text takes, and cutting it to fit.
#pragma once

#include <cstddef>
#include <string>

// Columns the UTF-8 text takes on a terminal: two for wide (East Asian)
// characters, none for combining marks, one for the rest (a byte that is
// not UTF-8 counts as one).
std::size_t display_width(const std::string& text);

// The text cut to at most `width` columns, at character boundaries: its
// start and its end kept (where a long path's folder and file name are),
// "..." for the middle.
std::string cut_middle(const std::string& text, std::size_t width);
