#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "HostRegistration.h"
#include "scripting/utf_conversion.h"

namespace HostRegistration {

namespace {

std::wstring programPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return std::wstring();
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring besideProgram(const std::wstring& program, Browser browser) {
    return program.substr(0, program.find_last_of(L'\\') + 1) + FB::utf8ToWide(manifestFileName(browser));
}

int fail(const char* what, const std::wstring& subject, LONG code) {
    std::fprintf(stderr, "korvane-host: %s %s (error %ld)\n", what, FB::wideToUtf8(subject).c_str(), code);
    return 1;
}

HKEY rootOf(Scope scope) {
    return scope == Scope::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

bool isEmptyKey(HKEY root, const std::wstring& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS)
        return false;
    DWORD subkeys = 1, values = 1;
    const LONG status = RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                         &values, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(handle);
    return status == ERROR_SUCCESS && subkeys == 0 && values == 0;
}

// The folders above our key ("...\NativeMessagingHosts", the browser's, the vendor's) were created for it
// when the browser was never installed: they go too while nothing else is in them. "Software" stays.
void removeEmptyParents(HKEY root, std::wstring key) {
    for (std::size_t at = key.find_last_of(L'\\'); at != std::wstring::npos; at = key.find_last_of(L'\\')) {
        key.resize(at);
        if (key.find(L'\\') == std::wstring::npos || !isEmptyKey(root, key) ||
            RegDeleteKeyW(root, key.c_str()) != ERROR_SUCCESS)
            return;
    }
}

}  // namespace

int registerHost(Scope scope) {
    const std::wstring program = programPath();
    if (program.empty())
        return fail("cannot find its own path", L"", static_cast<LONG>(GetLastError()));
    for (Browser browser : {Browser::Chromium, Browser::Firefox}) {
        const std::wstring file = besideProgram(program, browser);
        std::ofstream out(file.c_str(), std::ios::binary | std::ios::trunc);
        out << manifest(browser, FB::wideToUtf8(program));
        if (!out.flush())
            return fail("cannot write", file, static_cast<LONG>(GetLastError()));
    }
    for (const Entry& entry : entries()) {
        const std::wstring key = FB::utf8ToWide(entry.key);
        const std::wstring file = besideProgram(program, entry.browser);
        HKEY handle = nullptr;
        LONG status = RegCreateKeyExW(rootOf(scope), key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                      &handle, nullptr);
        if (status == ERROR_SUCCESS) {
            status = RegSetValueExW(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(file.c_str()),
                                    static_cast<DWORD>((file.size() + 1) * sizeof(wchar_t)));
            RegCloseKey(handle);
        }
        if (status != ERROR_SUCCESS)
            return fail("cannot write the key", key, status);
    }
    return 0;
}

int unregisterHost(Scope scope) {
    int result = 0;
    for (const Entry& entry : entries()) {
        const std::wstring key = FB::utf8ToWide(entry.key);
        // The manifest the key names goes with it, wherever an earlier registration put it.
        std::wstring file(MAX_PATH * 4, L'\0');
        DWORD bytes = static_cast<DWORD>(file.size() * sizeof(wchar_t));
        if (RegGetValueW(rootOf(scope), key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, file.data(), &bytes) ==
            ERROR_SUCCESS) {
            file.resize(bytes / sizeof(wchar_t) - 1);
            DeleteFileW(file.c_str());
        }
        const LONG status = RegDeleteKeyW(rootOf(scope), key.c_str());
        if (status == ERROR_SUCCESS)
            removeEmptyParents(rootOf(scope), key);
        else if (status != ERROR_FILE_NOT_FOUND)
            result = fail("cannot remove the key", key, status);
    }
    return result;
}

}  // namespace HostRegistration
