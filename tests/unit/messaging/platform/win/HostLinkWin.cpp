#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <stdexcept>

#include "HostLink.h"
#include "SystemServices.h"
#include "platform/win/WindowsCommandLine.h"

namespace messagingtest {

struct HostLink::State {
    HANDLE toHost = nullptr;
    HANDLE fromHost = nullptr;
    HANDLE child = nullptr;
    int exitStatus = -1;
};

namespace {

// Large enough for a whole reply of the browsers' limit, so that the host rarely waits for the test.
constexpr DWORD kPipeBuffer = 1 << 20;

// A pipe whose ends this process keeps to itself; a child gets one explicitly.
void makePipe(HANDLE& readEnd, HANDLE& writeEnd) {
    if (!CreatePipe(&readEnd, &writeEnd, nullptr, kPipeBuffer))
        throw std::runtime_error("CreatePipe failed: " + std::to_string(GetLastError()));
}

std::FILE* streamOf(HANDLE handle, int flags, const char* mode) {
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
    return fd < 0 ? nullptr : _fdopen(fd, mode);
}

HANDLE inheritable(HANDLE handle) {
    SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    return handle;
}

}  // namespace

HostLink::HostLink(std::unique_ptr<State> state) : state_(std::move(state)) {}

HostLink::~HostLink() {
    closeInput();
    if (state_->fromHost != nullptr)
        CloseHandle(state_->fromHost);
    wait();
}

std::unique_ptr<HostLink> HostLink::forLoop(std::FILE*& hostInput, std::FILE*& hostOutput) {
    auto state = std::make_unique<State>();
    HANDLE hostRead = nullptr;
    HANDLE hostWrite = nullptr;
    makePipe(hostRead, state->toHost);
    makePipe(state->fromHost, hostWrite);
    hostInput = streamOf(hostRead, _O_RDONLY, "rb");
    hostOutput = streamOf(hostWrite, _O_WRONLY, "wb");
    return std::unique_ptr<HostLink>(new HostLink(std::move(state)));
}

std::unique_ptr<HostLink> HostLink::forProgram(const std::string& program,
                                               const std::vector<std::string>& args) {
    auto state = std::make_unique<State>();
    HANDLE childInput = nullptr;
    HANDLE childOutput = nullptr;
    makePipe(childInput, state->toHost);
    makePipe(state->fromHost, childOutput);

    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::wstring commandLine = testsys::windowsCommandLine(argv);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inheritable(childInput);
    startup.hStdOutput = inheritable(childOutput);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process);
    CloseHandle(childInput);
    CloseHandle(childOutput);
    if (!started)
        throw std::runtime_error("cannot start " + program + ": " + std::to_string(GetLastError()));
    CloseHandle(process.hThread);
    state->child = process.hProcess;
    return std::unique_ptr<HostLink>(new HostLink(std::move(state)));
}

bool HostLink::write(const char* data, std::size_t size) {
    while (size > 0) {
        DWORD put = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, kPipeBuffer));
        if (!WriteFile(state_->toHost, data, chunk, &put, nullptr) || put == 0)
            return false;
        data += put;
        size -= put;
    }
    return true;
}

void HostLink::closeInput() {
    if (state_->toHost != nullptr) {
        CloseHandle(state_->toHost);
        state_->toHost = nullptr;
    }
}

long HostLink::read(char* data, std::size_t size, int timeoutMs) {
    // Anonymous pipes have no timed read: look until bytes are there or the writer is gone.
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    DWORD available = 0;
    while (PeekNamedPipe(state_->fromHost, nullptr, 0, nullptr, &available, nullptr) && available == 0) {
        if (GetTickCount64() >= deadline)
            return -1;
        Sleep(1);
    }
    DWORD got = 0;
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(size, std::max<DWORD>(available, 1)));
    if (!ReadFile(state_->fromHost, data, wanted, &got, nullptr))
        return 0;
    return static_cast<long>(got);
}

int HostLink::wait() {
    if (state_->child == nullptr)
        return state_->exitStatus;
    WaitForSingleObject(state_->child, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(state_->child, &code);
    state_->exitStatus = static_cast<int>(code);
    CloseHandle(state_->child);
    state_->child = nullptr;
    return state_->exitStatus;
}

}  // namespace messagingtest
