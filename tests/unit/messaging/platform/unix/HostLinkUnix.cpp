#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

#include "HostLink.h"

namespace messagingtest {

struct HostLink::State {
    int toHost = -1;
    int fromHost = -1;
    pid_t child = -1;
    int exitStatus = -1;
};

namespace {

void makePipe(int ends[2]) {
    if (pipe(ends) != 0)
        throw std::runtime_error("pipe failed");
    // Only the ends a child is meant to have reach it.
    fcntl(ends[0], F_SETFD, FD_CLOEXEC);
    fcntl(ends[1], F_SETFD, FD_CLOEXEC);
}

}  // namespace

HostLink::HostLink(std::unique_ptr<State> state) : state_(std::move(state)) {
    // A host that stopped reading makes write() fail instead of ending the test program.
    signal(SIGPIPE, SIG_IGN);
}

HostLink::~HostLink() {
    closeInput();
    if (state_->fromHost >= 0)
        close(state_->fromHost);
    wait();
}

std::unique_ptr<HostLink> HostLink::forLoop(std::FILE*& hostInput, std::FILE*& hostOutput) {
    int toHost[2];
    int fromHost[2];
    makePipe(toHost);
    makePipe(fromHost);
    hostInput = fdopen(toHost[0], "rb");
    hostOutput = fdopen(fromHost[1], "wb");
    auto state = std::make_unique<State>();
    state->toHost = toHost[1];
    state->fromHost = fromHost[0];
    return std::unique_ptr<HostLink>(new HostLink(std::move(state)));
}

std::unique_ptr<HostLink> HostLink::forProgram(const std::string& program,
                                               const std::vector<std::string>& args) {
    int toHost[2];
    int fromHost[2];
    makePipe(toHost);
    makePipe(fromHost);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        dup2(toHost[0], STDIN_FILENO);
        dup2(fromHost[1], STDOUT_FILENO);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(toHost[0]);
    close(fromHost[1]);
    auto state = std::make_unique<State>();
    state->toHost = toHost[1];
    state->fromHost = fromHost[0];
    state->child = child;
    return std::unique_ptr<HostLink>(new HostLink(std::move(state)));
}

bool HostLink::write(const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t put = ::write(state_->toHost, data, size);
        if (put <= 0)
            return false;
        data += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

void HostLink::closeInput() {
    if (state_->toHost >= 0) {
        close(state_->toHost);
        state_->toHost = -1;
    }
}

long HostLink::read(char* data, std::size_t size, int timeoutMs) {
    pollfd ready{state_->fromHost, POLLIN, 0};
    if (poll(&ready, 1, timeoutMs) != 1)
        return -1;
    const ssize_t got = ::read(state_->fromHost, data, size);
    return got < 0 ? 0 : static_cast<long>(got);
}

int HostLink::wait() {
    if (state_->child < 0)
        return state_->exitStatus;
    int status = 0;
    if (waitpid(state_->child, &status, 0) == state_->child)
        state_->exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    state_->child = -1;
    return state_->exitStatus;
}

}  // namespace messagingtest
