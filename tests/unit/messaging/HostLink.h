#pragma once

// The test's ends of one native-messaging connection: a pipe into the host's input and one out of its
// output. The host is either a loop in this process (it gets its ends as C streams) or a program started
// with its standard input and output on the pipes, as a browser starts it. platform/{unix,win} hold the
// pipes and the process start of each system.

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace messagingtest {

class HostLink {
  public:
    // Pipes whose far ends are handed over as binary streams for a loop run by the caller; the loop
    // closes them when it ends.
    static std::unique_ptr<HostLink> forLoop(std::FILE*& hostInput, std::FILE*& hostOutput);
    // Starts the program (an absolute build path) with these arguments; its standard error is ours.
    static std::unique_ptr<HostLink> forProgram(const std::string& program,
                                                const std::vector<std::string>& args);
    ~HostLink();

    // Writes every byte to the host's input; false when the host no longer reads.
    bool write(const char* data, std::size_t size);
    // Ends the host's input.
    void closeInput();
    // Up to size bytes of the host's output: the count, 0 at its end, -1 when nothing came for timeoutMs.
    long read(char* data, std::size_t size, int timeoutMs);
    // The program's exit status, waiting for it; -1 for a loop.
    int wait();

    struct State;

  private:
    explicit HostLink(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace messagingtest
