#include <fcntl.h>
#include <io.h>

#include "platform/StdioMode.h"

std::FILE* prepareMessageStreams() {
    std::fflush(stdout);
    // Text mode would turn "\n" into "\r\n" and end input at 0x1A.
    if (_setmode(_fileno(stdin), _O_BINARY) == -1)
        return nullptr;
    const int messages = _dup(_fileno(stdout));
    if (messages < 0 || _setmode(messages, _O_BINARY) == -1 || _dup2(_fileno(stderr), _fileno(stdout)) != 0)
        return nullptr;
    return _fdopen(messages, "wb");
}
