#pragma once

// One native-messaging connection as a browser holds it: the host's loop runs on its own thread over
// two pipes (or the built program runs with the pipes as its standard streams), and the test writes
// requests and reads the host's messages on the other ends.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "HostLink.h"
#include "HostSetup.h"
#include "messaging/MessagingConnection.h"

namespace messagingtest {

using json = nlohmann::json;

class HostPipe {
  public:
    explicit HostPipe(FB::MessagingOptions options = HostSetup::options(false)) {
        std::FILE* in = nullptr;
        std::FILE* out = nullptr;
        link_ = HostLink::forLoop(in, out);
        loop_ = std::thread([this, in, out, options] {
            status_ = FB::MessagingConnection(HostSetup::pluginFactory(), options, in, out).run();
            std::fclose(in);
            std::fclose(out);
        });
    }
    // The built program, started as a browser starts it.
    HostPipe(const std::string& program, const std::vector<std::string>& args)
        : link_(HostLink::forProgram(program, args)) {}
    ~HostPipe() { finish(); }

    void sendRaw(const std::string& bytes) { link_->write(bytes.data(), bytes.size()); }
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
        if (!finished_) {
            finished_ = true;
            link_->closeInput();
            while (!receive().is_null()) {
            }
            if (loop_.joinable())
                loop_.join();
            else
                status_ = link_->wait();
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
            const long got = link_->read(bytes, size, 10000);
            if (got < 0) {
                ADD_FAILURE() << "the host sent nothing for 10 s";
                return false;
            }
            if (got == 0)
                return false;
            bytes += got;
            size -= static_cast<std::size_t>(got);
        }
        return true;
    }

    std::unique_ptr<HostLink> link_;
    std::thread loop_;
    bool finished_ = false;
    int status_ = -1;
};

// A fault reply's code, or "" for a successful reply.
inline std::string faultOf(const json& reply) {
    return reply.value("ok", false) ? std::string() : reply["error"]["code"].get<std::string>();
}

}  // namespace messagingtest
