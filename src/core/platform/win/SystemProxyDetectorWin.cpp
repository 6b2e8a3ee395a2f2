#include "core/platform/win/SystemProxyDetectorWin.h"

#include <stdexcept>
#include <vector>

#include "core/Log.h"
#include "core/UrlScheme.h"

namespace FB {

namespace {

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1) {
        pieces.push_back(text.substr(start, at - start));
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

std::string systemMessage(DWORD code) {
    char* buffer = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr,
                                        code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string message = length > 0 && buffer ? std::string(buffer, length) : std::string();
    if (buffer) {
        LocalFree(buffer);
    }
    return message;
}

// The wide call gives the list as wide text; host names are ASCII, so UTF-8 keeps them as they are.
std::string narrow(const wchar_t* text) {
    if (!text || !*text) {
        return {};
    }
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), length, nullptr, nullptr);
    if (!out.empty()) {
        out.pop_back();  // the terminator
    }
    return out;
}

}  // namespace

SystemProxyDetectorWin::SystemProxyDetectorWin(QueryOption queryOption) : queryOption_(queryOption) {}

bool SystemProxyDetectorWin::querySystemProxy(const std::string& url,
                                              std::map<std::string, std::string>& settings) {
    settings.clear();
    try {
        DWORD size = 0;
        queryOption_(nullptr, INTERNET_OPTION_PROXY, nullptr, &size);
        std::vector<BYTE> record(size);
        if (!queryOption_(nullptr, INTERNET_OPTION_PROXY, record.empty() ? nullptr : record.data(), &size) ||
            record.size() < sizeof(INTERNET_PROXY_INFO)) {
            throw std::runtime_error("InternetQueryOption(INTERNET_OPTION_PROXY): " +
                                     systemMessage(GetLastError()));
        }
        const auto& info = *reinterpret_cast<const INTERNET_PROXY_INFO*>(record.data());
        if (info.dwAccessType != INTERNET_OPEN_TYPE_PROXY) {
            return false;
        }
        const std::string scheme = urlScheme(url);
        // Entries such as "http=proxy:8080", "socks=s:1080" or a bare "proxy:3128" (an http entry).
        for (const std::string& entry :
             split(narrow(reinterpret_cast<const wchar_t*>(info.lpszProxy)), ' ')) {
            std::vector<std::string> parts = split(entry, '=');
            if (parts.size() < 2) {
                parts = {"http", entry};
            }
            const std::vector<std::string> address = split(parts[1], ':');
            if (address.size() < 2) {
                continue;
            }
            // An entry for the URL's scheme always wins; a socks entry only stands in until one comes.
            if (parts[0] != scheme && !(parts[0] == "socks" && settings.count("type") == 0)) {
                continue;
            }
            settings["port"] = address[1];
            settings["hostname"] = address[0];
            settings["type"] = parts[0];
        }
        return settings.count("type") != 0;
    } catch (const std::exception& e) {
        Log::info("SystemProxyDetector", std::string("Could not detect system proxy: ") + e.what());
        return false;
    }
}

SystemProxyDetector& SystemProxyDetector::get() {
    static SystemProxyDetectorWin detector;
    return detector;
}

}  // namespace FB
