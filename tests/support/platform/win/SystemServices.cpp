#include "SystemServices.h"

#include <windows.h>

#include <cstdlib>
#include <stdexcept>

#include "platform/win/WindowsCommandLine.h"
#include "scripting/utf_conversion.h"

namespace testsys {

namespace {

// Paths of the build are paths of the machine that runs Wine ("/work/..."); Wine names them with its
// drive for the root. A Windows path passes unchanged.
std::wstring windowsPath(const std::string& path) {
    if (path.empty() || path[0] != '/') {
        return FB::utf8ToWide(path);
    }
    using ToDos = LPWSTR(CDECL*)(LPCSTR);
    auto toDos = reinterpret_cast<ToDos>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    if (toDos != nullptr) {
        if (LPWSTR dos = toDos(path.c_str())) {
            std::wstring result(dos);
            HeapFree(GetProcessHeap(), 0, dos);
            return result;
        }
    }
    return L"Z:" + FB::utf8ToWide(path);
}

std::string lastErrorText() {
    return "error " + std::to_string(GetLastError());
}

// One argument quoted for CommandLineToArgvW and the C runtime's parser.
std::wstring quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

}  // namespace

std::wstring windowsCommandLine(const std::vector<std::string>& argv) {
    std::wstring line = argv.empty() ? std::wstring() : quoted(windowsPath(argv[0]));
    for (std::size_t i = 1; i < argv.size(); ++i) {
        line += L" " + quoted(FB::utf8ToWide(argv[i]));
    }
    return line;
}

std::string nativePath(const std::string& path) {
    return FB::wideToUtf8(windowsPath(path));
}

void* loadModule(const std::string& path, std::string& error) {
    HMODULE module = LoadLibraryW(windowsPath(path).c_str());
    if (module == nullptr) {
        error = lastErrorText();
    }
    return reinterpret_cast<void*>(module);
}

void* moduleEntry(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

bool unloadModule(void* module) {
    return FreeLibrary(static_cast<HMODULE>(module)) != 0;
}

std::size_t runMessageLoop() {
    std::size_t count = 0;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageW(&message);
        ++count;
    }
    return count;
}

bool underWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

void setEnv(const char* name, const std::string& value) {
    _putenv_s(name, value.c_str());
    SetEnvironmentVariableW(FB::utf8ToWide(name).c_str(), FB::utf8ToWide(value).c_str());
}

void unsetEnv(const char* name) {
    _putenv_s(name, "");
    SetEnvironmentVariableW(FB::utf8ToWide(name).c_str(), nullptr);
}

std::string makeTempDir() {
    wchar_t base[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, base);
    if (length == 0 || length > MAX_PATH) {
        throw std::runtime_error("GetTempPathW failed");
    }
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        const std::wstring candidate = std::wstring(base) + L"korvane-" +
                                       std::to_wstring(GetCurrentProcessId()) + L"-" +
                                       std::to_wstring(GetTickCount() + attempt);
        if (CreateDirectoryW(candidate.c_str(), nullptr)) {
            return FB::wideToUtf8(candidate);
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    throw std::runtime_error("cannot make a temporary folder: " + lastErrorText());
}

ProcessResult runProcess(const std::vector<std::string>& argv) {
    if (argv.empty()) {
        throw std::invalid_argument("runProcess needs a program");
    }
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        throw std::runtime_error("CreatePipe failed: " + lastErrorText());
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    std::wstring commandLine = windowsCommandLine(argv);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process);
    CloseHandle(writeEnd);
    ProcessResult result;
    if (!started) {
        CloseHandle(readEnd);
        result.status = 127;
        result.output = "cannot start " + argv[0] + ": " + lastErrorText();
        return result;
    }
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &n, nullptr) && n > 0) {
        result.output.append(buffer, n);
    }
    CloseHandle(readEnd);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    result.status = static_cast<int>(exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

}  // namespace testsys
