// The UTF conversions at the edges of the scripting core: the input read as UTF-8 and as UTF-16 code
// units. A conversion either raises one of utfcpp's exceptions or gives text that converts back to the
// input exactly; nothing is replaced.
#include <cstddef>
#include <cstdint>
#include <string>

#include <utf8.h>
#include "FuzzInput.h"
#include "scripting/utf_conversion.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    const bool asWide = in.flag();
    const std::string bytes = in.rest();

    if (asWide) {
        std::wstring wide;
        for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
            wide += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                         (static_cast<unsigned char>(bytes[i + 1]) << 8));
        }
        std::string text;
        try {
            text = FB::wideToUtf8(wide);
        } catch (const utf8::invalid_utf16&) {
            return 0;
        }
        FUZZ_CHECK(text.empty() == wide.empty());
        FUZZ_CHECK(utf8::is_valid(text.begin(), text.end()));
        FUZZ_CHECK(FB::utf8ToWide(text) == wide);
        return 0;
    }

    std::wstring wide;
    try {
        wide = FB::utf8ToWide(bytes);
    } catch (const utf8::exception&) {
        FUZZ_CHECK(!utf8::is_valid(bytes.begin(), bytes.end()));
        return 0;
    }
    for (const wchar_t unit : wide) {
        FUZZ_CHECK(static_cast<unsigned long>(unit) <= 0xFFFF);
    }
    FUZZ_CHECK(FB::wideToUtf8(wide) == bytes);
    return 0;
}
