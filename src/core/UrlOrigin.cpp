#include "core/UrlOrigin.h"

#include <cctype>

#include "core/UrlScheme.h"

namespace FB {

namespace {

int defaultPort(const std::string& scheme) {
    if (scheme == "http" || scheme == "ws")
        return 80;
    if (scheme == "https" || scheme == "wss")
        return 443;
    if (scheme == "ftp")
        return 21;
    return -1;
}

bool isHostChar(unsigned char c) {
    return std::isalnum(c) || c == '-' || c == '.' || c == '_';
}

bool isBracketedHostChar(unsigned char c) {
    return std::isxdigit(c) || c == ':' || c == '.';
}

}  // namespace

std::string urlOrigin(const std::string& url) {
    const std::string scheme = urlScheme(url);
    if (scheme.empty() || url.compare(scheme.size(), 3, "://") != 0)
        return {};
    const std::size_t start = scheme.size() + 3;
    const std::size_t end = url.find_first_of("/?#", start);
    std::string authority = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (const std::size_t at = authority.rfind('@'); at != std::string::npos)
        authority.erase(0, at + 1);

    std::string host;
    std::string portText;
    if (!authority.empty() && authority[0] == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string::npos || close == 1)
            return {};
        host = authority.substr(0, close + 1);
        for (std::size_t i = 1; i < close; ++i) {
            if (!isBracketedHostChar(static_cast<unsigned char>(host[i])))
                return {};
        }
        const std::string rest = authority.substr(close + 1);
        if (!rest.empty() && rest[0] != ':')
            return {};
        portText = rest.empty() ? std::string() : rest.substr(1);
    } else {
        const std::size_t colon = authority.find(':');
        host = authority.substr(0, colon);
        portText = colon == std::string::npos ? std::string() : authority.substr(colon + 1);
        if (host.empty())
            return {};
        for (char c : host) {
            if (!isHostChar(static_cast<unsigned char>(c)))
                return {};
        }
    }
    for (char& c : host)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));

    // Digits only, at most 65535; leading zeros do not make another origin.
    int port = -1;
    if (!portText.empty()) {
        if (portText.size() > 5)
            return {};
        port = 0;
        for (char c : portText) {
            if (!std::isdigit(static_cast<unsigned char>(c)))
                return {};
            port = port * 10 + (c - '0');
        }
        if (port > 65535)
            return {};
    }
    std::string origin = scheme + "://" + host;
    if (port >= 0 && port != defaultPort(scheme))
        origin += ":" + std::to_string(port);
    return origin;
}

}  // namespace FB
