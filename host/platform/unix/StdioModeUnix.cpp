#include <unistd.h>

#include "platform/StdioMode.h"

std::FILE* prepareMessageStreams() {
    std::fflush(stdout);
    const int messages = dup(STDOUT_FILENO);
    if (messages < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0)
        return nullptr;
    return fdopen(messages, "wb");
}
