// Text conversions. "System" text is 8-bit in the system code page on Windows (CP_ACP) and
// UTF-8 elsewhere; wide text is UTF-16 on Windows (wchar_t) and UTF-32 elsewhere.
#pragma once

#include <string>

namespace pageturn {

std::wstring SystemToWide(const std::string& text);
std::string WideToSystem(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);

// ASCII-only case mapping and trimming, for the fixed texts of the command line and names.
std::string UpperAscii(std::string text);
std::string LowerAscii(std::string text);
// Trims blanks and control characters (code <= 32) from both ends.
std::string Trim(const std::string& text);

// Plain optional-sign decimal to signed 32-bit; false for anything else or out of range.
bool TryParseInt32(const std::string& text, int& value);
bool TryParseInt32(const std::wstring& text, int& value);

}  // namespace pageturn
