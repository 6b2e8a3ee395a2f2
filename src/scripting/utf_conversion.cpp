#include "scripting/utf_conversion.h"

#include <cstdint>
#include <iterator>

#include <utf8.h>

namespace FB {

std::string wideToUtf8(const std::wstring& wide) {
    // utfcpp masks each element to 16 bits; an element above 0xFFFF (a UTF-32 value that slipped
    // into a wide string) would silently become another character, so it is refused instead.
    for (wchar_t unit : wide) {
        if (static_cast<std::uint32_t>(unit) > 0xFFFFu) {
            throw utf8::invalid_utf16(static_cast<std::uint16_t>(static_cast<std::uint32_t>(unit) & 0xFFFFu));
        }
    }
    std::string out;
    out.reserve(wide.size());
    utf8::utf16to8(wide.begin(), wide.end(), std::back_inserter(out));
    return out;
}

std::wstring utf8ToWide(const std::string& text) {
    std::wstring out;
    out.reserve(text.size());
    // One UTF-16 code unit per element, also where wchar_t is 32 bits wide.
    utf8::utf8to16(text.begin(), text.end(), std::back_inserter(out));
    return out;
}

}  // namespace FB
