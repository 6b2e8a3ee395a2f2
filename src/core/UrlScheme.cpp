#include "core/UrlScheme.h"

#include <cctype>

namespace FB {

std::string urlScheme(const std::string& url) {
    auto colon = url.find(':');
    if (colon == std::string::npos || colon == 0)
        return {};
    std::string scheme = url.substr(0, colon);
    // RFC 3986: a letter followed by letters, digits, "+", "-" or ".".
    if (!std::isalpha(static_cast<unsigned char>(scheme[0])))
        return {};
    for (char& c : scheme) {
        auto u = static_cast<unsigned char>(c);
        if (!std::isalnum(u) && c != '+' && c != '-' && c != '.')
            return {};
        c = static_cast<char>(std::tolower(u));
    }
    return scheme;
}

}  // namespace FB
