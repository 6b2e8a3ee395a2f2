#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

#include "core/platform/win/SystemProxyDetectorWin.h"

namespace {

using Settings = std::map<std::string, std::string>;

// The current user's Internet Settings, which WinINet reads on every query without an internet handle.
// Each test writes the proxy it needs and the previous values come back afterwards.
class SystemProxyDetectorWinTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // WinINet under Wine prefers the proxy variables of the environment over the registry.
        for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "no_proxy"}) {
            _putenv_s(name, "");
            SetEnvironmentVariableA(name, nullptr);
        }
        ASSERT_EQ(
            RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr),
            ERROR_SUCCESS);
        saved_ = read(L"ProxyEnable", L"ProxyServer");
    }
    void TearDown() override {
        if (saved_.enabled) {
            configure(saved_.server);
        } else {
            RegSetValueExW(key_, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kZero),
                           sizeof(DWORD));
        }
        RegCloseKey(key_);
    }

    // Enables the proxy with that server list, or disables it for the empty text.
    void configure(const std::wstring& server) {
        const DWORD enable = server.empty() ? 0 : 1;
        RegSetValueExW(key_, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable),
                       sizeof(enable));
        RegSetValueExW(key_, L"ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
                       static_cast<DWORD>((server.size() + 1) * sizeof(wchar_t)));
    }

    bool query(const std::string& url, Settings& settings) {
        return detector.querySystemProxy(url, settings);
    }

    FB::SystemProxyDetectorWin detector;

  private:
    struct Saved {
        bool enabled = false;
        std::wstring server;
    };
    Saved read(const wchar_t* enableName, const wchar_t* serverName) {
        Saved saved;
        DWORD enabled = 0;
        DWORD size = sizeof(enabled);
        saved.enabled = RegQueryValueExW(key_, enableName, nullptr, nullptr,
                                         reinterpret_cast<BYTE*>(&enabled), &size) == ERROR_SUCCESS &&
                        enabled != 0;
        wchar_t server[1024] = {};
        size = sizeof(server) - sizeof(wchar_t);
        if (RegQueryValueExW(key_, serverName, nullptr, nullptr, reinterpret_cast<BYTE*>(server), &size) ==
            ERROR_SUCCESS) {
            saved.server = server;
        }
        return saved;
    }

    static constexpr const wchar_t* kKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    static constexpr DWORD kZero = 0;
    HKEY key_ = nullptr;
    Saved saved_;
};

}  // namespace

TEST_F(SystemProxyDetectorWinTest, DirectAccessGivesFalseAndAnEmptyMap) {
    configure(L"");
    Settings settings{{"stale", "value"}};
    EXPECT_FALSE(query("http://example.org/", settings));
    EXPECT_TRUE(settings.empty());
}

TEST_F(SystemProxyDetectorWinTest, ABareHostAndPortIsAnHttpEntry) {
    configure(L"proxy.example:3128");
    Settings settings;
    EXPECT_TRUE(query("http://example.org/", settings));
    EXPECT_EQ(settings, (Settings{{"type", "http"}, {"hostname", "proxy.example"}, {"port", "3128"}}));
    // Not for another scheme.
    EXPECT_FALSE(query("https://example.org/", settings));
    EXPECT_TRUE(settings.empty());
}

TEST_F(SystemProxyDetectorWinTest, PerSchemeListOfTheRegistry) {
    configure(L"http=proxy:8080;https=secure:8443");
    Settings settings;
    EXPECT_TRUE(query("http://example.org/", settings));
    EXPECT_EQ(settings, (Settings{{"type", "http"}, {"hostname", "proxy"}, {"port", "8080"}}));
    // Wine's WinINet keeps only the http entry of a per-scheme list; where the https entry is handed
    // out, it is the one taken for an https URL.
    if (query("https://bank.example/", settings)) {
        EXPECT_EQ(settings, (Settings{{"type", "https"}, {"hostname", "secure"}, {"port", "8443"}}));
    } else {
        EXPECT_TRUE(settings.empty());
    }
}

namespace {

// A WinINet that answers with one proxy record, for the lists Wine's own never hands out.
std::wstring scriptedList;
BOOL WINAPI scriptedQuery(HINTERNET, DWORD option, LPVOID buffer, LPDWORD size) {
    const DWORD needed =
        static_cast<DWORD>(sizeof(INTERNET_PROXY_INFO) + (scriptedList.size() + 1) * sizeof(wchar_t));
    if (option != INTERNET_OPTION_PROXY || !buffer || *size < needed) {
        *size = needed;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* info = static_cast<INTERNET_PROXY_INFO*>(buffer);
    auto* text = reinterpret_cast<wchar_t*>(info + 1);
    scriptedList.copy(text, scriptedList.size());
    text[scriptedList.size()] = L'\0';
    info->dwAccessType = INTERNET_OPEN_TYPE_PROXY;
    info->lpszProxy = reinterpret_cast<LPCTSTR>(text);
    info->lpszProxyBypass = nullptr;
    return TRUE;
}

Settings scriptedAnswer(const std::wstring& list, const std::string& url, bool expected) {
    scriptedList = list;
    FB::SystemProxyDetectorWin detector(&scriptedQuery);
    Settings settings;
    EXPECT_EQ(detector.querySystemProxy(url, settings), expected) << url;
    return settings;
}

}  // namespace

TEST(SystemProxyDetectorWinLists, EntriesAreChosenByTheUrlsSchemeWithSocksAsStandIn) {
    EXPECT_EQ(scriptedAnswer(L"http=proxy:8080 https=secure:8443", "https://bank.example/", true),
              (Settings{{"type", "https"}, {"hostname", "secure"}, {"port", "8443"}}));
    EXPECT_EQ(scriptedAnswer(L"socks=s:1080 http=p:80", "http://example.org/", true),
              (Settings{{"type", "http"}, {"hostname", "p"}, {"port", "80"}}));
    EXPECT_EQ(scriptedAnswer(L"socks=s:1080 http=p:80", "ftp://files.example/", true),
              (Settings{{"type", "socks"}, {"hostname", "s"}, {"port", "1080"}}));
    // An entry for the scheme is never replaced by a later socks entry; entries without a port are skipped.
    EXPECT_EQ(scriptedAnswer(L"http=p:80 socks=s:1080 http=noport", "http://example.org/", true)["hostname"],
              "p");
    EXPECT_TRUE(scriptedAnswer(L"https=noport", "https://bank.example/", false).empty());
}

TEST(SystemProxyDetectorWinFailure, AFailingQueryIsFalseAndNotAnException) {
    const FB::SystemProxyDetectorWin::QueryOption failing = [](HINTERNET, DWORD, LPVOID,
                                                               LPDWORD size) -> BOOL {
        if (size) {
            *size = sizeof(INTERNET_PROXY_INFO);
        }
        SetLastError(ERROR_INTERNET_INVALID_OPTION);
        return FALSE;
    };
    FB::SystemProxyDetectorWin detector(failing);
    Settings settings{{"stale", "value"}};
    EXPECT_FALSE(detector.querySystemProxy("http://example.org/", settings));
    EXPECT_TRUE(settings.empty());
}
