#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace FB {

// The two byte streams between a browser and a native-messaging host, framed as the browsers frame
// them: each message is a 4-byte length in the machine's byte order, then that many bytes of UTF-8
// JSON. The streams must be in binary mode. Not thread-safe: one reader and one writer thread at most.
class MessageChannel {
  public:
    struct Incoming {
        enum class Status {
            Message,    // body holds the message
            End,        // the input ended between messages
            Truncated,  // the input ended inside a length or a body
            TooLarge,   // longer than the limit; its bytes were read and dropped
        };
        Status status = Status::End;
        std::string body;
        std::uint32_t length = 0;
    };

    // Reads the input unbuffered, straight into each message's own storage, so that a request carrying a
    // PIN leaves no copy behind in the stream's buffer. Must come before anything reads in.
    MessageChannel(std::FILE* in, std::FILE* out) : in_(in), out_(out) {
        std::setvbuf(in_, nullptr, _IONBF, 0);
    }

    // The next message; one longer than maxLength is consumed without being kept.
    Incoming read(std::size_t maxLength);
    // Writes one message with its length and flushes; false when the output failed.
    bool write(const std::string& body);

  private:
    std::FILE* in_;
    std::FILE* out_;
};

}  // namespace FB
