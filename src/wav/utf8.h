// Names are bytes; tags and JSON want UTF-8.
#pragma once

#include <string>

// Valid UTF-8, overlong forms and surrogates excluded.
bool valid_utf8(const std::string& text);

// The text with every byte that is not part of valid UTF-8 replaced by
// U+FFFD.
std::string utf8_or_replacement(const std::string& text);
