#pragma once

// The engines' texts as tests read them: the listing split into its entries, the form in which the page
// receives a text, and hash values as a page would send them. Shared by the engine, plug-in and module
// tests.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace contract {

using Bytes = std::vector<std::uint8_t>;

struct Listed {
    std::string issuer;
    std::string subject;
    std::string id;
};

inline std::vector<Listed> parseListing(const std::string& text) {
    std::vector<std::string> fields;
    for (std::size_t start = 0; !text.empty();) {
        const std::size_t bar = text.find('|', start);
        fields.push_back(text.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos) {
            break;
        }
        start = bar + 1;
    }
    EXPECT_EQ(fields.size() % 3, 0u) << text;
    std::vector<Listed> out;
    for (std::size_t i = 0; i + 2 < fields.size(); i += 3) {
        out.push_back({fields[i], fields[i + 1], fields[i + 2]});
    }
    return out;
}

// The text as the page receives it: bytes outside 0x20-0x7F blanked.
inline std::string blanked(std::string text) {
    for (char& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7F) {
            c = ' ';
        }
    }
    return text;
}

// A hash value as a page would send it; the engines sign it as given and never hash themselves.
inline Bytes hashOf(const std::string& text, std::size_t size) {
    Bytes hash(size);
    std::uint32_t state = 2166136261u;
    for (char c : text) {
        state = (state ^ static_cast<std::uint8_t>(c)) * 16777619u;
    }
    for (auto& octet : hash) {
        state = state * 1103515245u + 12345u;
        octet = static_cast<std::uint8_t>(state >> 16);
    }
    return hash;
}

}  // namespace contract
