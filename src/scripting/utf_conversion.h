#pragma once

// Strict conversions between the UTF-8 text used inside the system and wide text at its edges.
// A std::wstring holds UTF-16 code units, one per element, on every platform. Malformed input
// raises utfcpp's exceptions (utf8::invalid_utf16, invalid_utf8, invalid_code_point,
// not_enough_room); nothing is replaced and no partial result is returned.

#include <string>

namespace FB {

std::string wideToUtf8(const std::wstring& wide);
std::wstring utf8ToWide(const std::string& text);

}  // namespace FB
