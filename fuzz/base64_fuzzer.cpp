// Base64 as pages send it: the hash to sign and the serial part of a certificate identifier. Whatever
// decodes must be within the limit and survive a round trip through the encoder; whatever the encoder
// writes must be plain padded Base64 that decodes back to the same octets.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include "FuzzInput.h"
#include "signature/Base64.h"

namespace {

constexpr std::size_t kLimits[] = {0, 1, 16, 20, 32, 64, 256, 2048, std::numeric_limits<std::size_t>::max()};

bool isPlainBase64(const std::string& text) {
    if (text.size() % 4 != 0) {
        return false;
    }
    const std::size_t padding = text.find('=');
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                            c == '+' || c == '/';
        if (i < padding ? !letter : c != '=') {
            return false;
        }
    }
    return padding == std::string::npos || text.size() - padding <= 2;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    const std::size_t limit = kLimits[in.pick(std::size(kLimits))];
    const std::string text = in.rest();

    if (const auto decoded = Base64::decode(text, limit)) {
        FUZZ_CHECK(!decoded->empty());
        FUZZ_CHECK(decoded->size() <= limit);
        const std::string again = Base64::encode(*decoded);
        FUZZ_CHECK(isPlainBase64(again));
        FUZZ_CHECK(Base64::decode(again, limit) == decoded);
    }

    // The same bytes as octets to encode.
    const auto* octets = reinterpret_cast<const std::uint8_t*>(text.data());
    const std::string encoded = Base64::encode(octets, text.size());
    FUZZ_CHECK(encoded.size() == (text.size() + 2) / 3 * 4);
    FUZZ_CHECK(isPlainBase64(encoded));
    const auto back = Base64::decode(encoded, limit);
    if (text.empty() || text.size() > limit) {
        FUZZ_CHECK(!back);
    } else {
        FUZZ_CHECK(back && std::string(back->begin(), back->end()) == text);
    }
    return 0;
}
