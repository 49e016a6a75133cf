#include "support/platform_expectations.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#endif

std::string console_text(const std::string& text) {
#if defined(_WIN32)
    std::string crlf;
    for (char c : text) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    return crlf;
#else
    return text;
#endif
}

std::string system_text(SystemError error) {
#if defined(_WIN32)
    const DWORD code = error == SystemError::parent_is_a_file ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED;
    char text[512];
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                   text, sizeof text, nullptr);
    std::string s(text, n);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.')) s.pop_back();
    return s;
#else
    return std::strerror(error == SystemError::parent_is_a_file ? ENOTDIR : EISDIR);
#endif
}
