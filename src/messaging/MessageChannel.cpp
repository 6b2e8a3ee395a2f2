#include "messaging/MessageChannel.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace FB {

MessageChannel::Incoming MessageChannel::read(std::size_t maxLength) {
    Incoming incoming;
    unsigned char prefix[4];
    const std::size_t got = std::fread(prefix, 1, sizeof prefix, in_);
    if (got == 0) {
        incoming.status = Incoming::Status::End;
        return incoming;
    }
    if (got < sizeof prefix) {
        incoming.status = Incoming::Status::Truncated;
        return incoming;
    }
    std::memcpy(&incoming.length, prefix, sizeof prefix);

    if (incoming.length > maxLength) {
        // Dropped in pieces, so that a false length cannot make us allocate what it claims.
        std::array<char, 16384> sink;
        std::size_t left = incoming.length;
        while (left > 0) {
            const std::size_t step = std::min(left, sink.size());
            if (std::fread(sink.data(), 1, step, in_) != step) {
                incoming.status = Incoming::Status::Truncated;
                return incoming;
            }
            left -= step;
        }
        incoming.status = Incoming::Status::TooLarge;
        return incoming;
    }

    incoming.body.resize(incoming.length);
    if (incoming.length > 0 && std::fread(incoming.body.data(), 1, incoming.length, in_) != incoming.length) {
        incoming.body.clear();
        incoming.status = Incoming::Status::Truncated;
        return incoming;
    }
    incoming.status = Incoming::Status::Message;
    return incoming;
}

bool MessageChannel::write(const std::string& body) {
    const auto length = static_cast<std::uint32_t>(body.size());
    std::string frame(sizeof length, '\0');
    std::memcpy(frame.data(), &length, sizeof length);
    frame += body;
    // One write of the whole frame, so that a reader never sees a length without its body.
    return std::fwrite(frame.data(), 1, frame.size(), out_) == frame.size() && std::fflush(out_) == 0;
}

}  // namespace FB
