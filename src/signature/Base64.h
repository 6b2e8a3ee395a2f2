#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Standard-alphabet Base64 with "=" padding and no line breaks, the one encoding of every text the
// engine hands out; decoding is strict about the alphabet and tolerant of line breaks and blanks.
namespace Base64 {

std::string encode(const std::uint8_t* data, std::size_t size);
inline std::string encode(const std::vector<std::uint8_t>& data) {
    return encode(data.data(), data.size());
}

// Nothing when the text holds a character outside the alphabet, misplaced padding, an impossible length,
// no data at all, or more than maxOctets octets.
std::optional<std::vector<std::uint8_t>> decode(std::string_view text, std::size_t maxOctets);

}  // namespace Base64
