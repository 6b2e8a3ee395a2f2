#pragma once

// One native-messaging connection as a browser holds it: the host's loop runs on its own thread over
// two pipes, and the test writes requests and reads the host's messages on the other ends.

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "HostSetup.h"
#include "messaging/MessagingConnection.h"

namespace messagingtest {

using json = nlohmann::json;

class HostPipe {
  public:
    explicit HostPipe(FB::MessagingOptions options = HostSetup::options(false)) {
        int toHost[2];
        int fromHost[2];
        if (pipe(toHost) != 0 || pipe(fromHost) != 0)
            throw std::runtime_error("pipe failed");
        std::FILE* in = fdopen(toHost[0], "rb");
        std::FILE* out = fdopen(fromHost[1], "wb");
        toHost_ = fdopen(toHost[1], "wb");
        fromHost_ = fromHost[0];
        loop_ = std::thread([this, in, out, options] {
            status_ = FB::MessagingConnection(HostSetup::pluginFactory(), options, in, out).run();
            std::fclose(in);
            std::fclose(out);
        });
    }
    ~HostPipe() {
        finish();
        close(fromHost_);
    }

    void sendRaw(const std::string& bytes) {
        std::fwrite(bytes.data(), 1, bytes.size(), toHost_);
        std::fflush(toHost_);
    }
    void sendFrame(const std::string& body) {
        const auto length = static_cast<std::uint32_t>(body.size());
        std::string prefix(4, '\0');
        std::memcpy(prefix.data(), &length, 4);
        sendRaw(prefix + body);
    }

    // The host's next message; null when the host's output ended or nothing came for 10 s. Records the
    // largest frame seen.
    json receive() {
        std::uint32_t length = 0;
        if (!readFully(&length, 4))
            return nullptr;
        largestFrame = std::max(largestFrame, length);
        std::string body(length, '\0');
        if (!readFully(body.data(), length))
            return nullptr;
        lastBody = body;
        return json::parse(body);
    }

    // Sends a request (with the origin unless it names one) and returns the next message, its reply.
    json request(json message) {
        if (!message.contains("origin"))
            message["origin"] = origin;
        if (!message.contains("id"))
            message["id"] = nextId++;
        sendFrame(message.dump());
        return receive();
    }
    json open(const json& params = json::object()) { return request({{"type", "open"}, {"params", params}}); }
    json invoke(const std::string& member, const json& args = json::array()) {
        return request({{"type", "invoke"}, {"member", member}, {"args", args}});
    }
    json get(const std::string& member) { return request({{"type", "get"}, {"member", member}}); }
    json set(const std::string& member, const json& value) {
        return request({{"type", "set"}, {"member", member}, {"value", value}});
    }

    // Closes the host's input, reads what it still sends and returns its exit status.
    int finish() {
        if (toHost_) {
            std::fclose(toHost_);
            toHost_ = nullptr;
            while (!receive().is_null()) {
            }
            loop_.join();
        }
        return status_;
    }

    std::string origin = "https://a.example";
    int nextId = 1;
    std::uint32_t largestFrame = 0;
    std::string lastBody;

  private:
    bool readFully(void* buffer, std::size_t size) {
        auto* bytes = static_cast<char*>(buffer);
        while (size > 0) {
            pollfd ready{fromHost_, POLLIN, 0};
            if (poll(&ready, 1, 10000) != 1) {
                ADD_FAILURE() << "the host sent nothing for 10 s";
                return false;
            }
            const ssize_t got = read(fromHost_, bytes, size);
            if (got <= 0)
                return false;
            bytes += got;
            size -= static_cast<std::size_t>(got);
        }
        return true;
    }

    std::FILE* toHost_ = nullptr;
    int fromHost_ = -1;
    std::thread loop_;
    int status_ = -1;
};

// A fault reply's code, or "" for a successful reply.
inline std::string faultOf(const json& reply) {
    return reply.value("ok", false) ? std::string() : reply["error"]["code"].get<std::string>();
}

}  // namespace messagingtest
