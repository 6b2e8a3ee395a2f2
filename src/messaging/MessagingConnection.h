#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/FactoryBase.h"
#include "messaging/MessageChannel.h"
#include "messaging/MessagingSession.h"

namespace FB {

struct MessagingOptions {
    std::string version;  // announced in the hello and never changed by a session
    int protocol = 1;
    std::string mimeType;
    // Properties of the scriptable object sent back as "state" with every reply while a session exists.
    std::vector<std::string> stateMembers;
    // Development and tests only: also accept http pages on 127.0.0.1, localhost and [::1].
    bool allowLoopback = false;
    // Members through which a page would hand over its user's PIN, which the user types in the
    // extension's own window instead: calls of these methods, and writes of anything but "" to these
    // properties, are refused with "pin_in_page" and pinRefusal as the message.
    std::set<std::string> pinMethods;
    std::set<std::string> pinProperties;
    std::string pinRefusal;
    std::size_t maxRequestLength = 64 * 1024;
    // The browsers end the connection on a longer message from the host.
    std::size_t maxMessageLength = 1024 * 1024;
};

// One native-messaging connection, from the browser starting the host to the input's end. It announces
// the version, then answers requests one at a time (see host/PROTOCOL.md): it pins the page origin the
// extension adds to the first request and refuses any other, keeps at most one session, and turns every
// protocol fault into an error reply after which it reads the next request. Runs on the calling thread,
// which becomes the session's main thread.
class MessagingConnection {
  public:
    MessagingConnection(FactoryBasePtr factory, MessagingOptions options, std::FILE* in, std::FILE* out);
    ~MessagingConnection();

    // 0 when the input ended between messages; 1 when it ended inside one or the output failed.
    int run();

    // Whether origin is "scheme://host[:port]" with scheme https, or http on a loopback host when
    // allowLoopback.
    static bool originAllowed(const std::string& origin, bool allowLoopback);

  private:
    void handle(std::string& body);
    // The fault code for a request whose origin is missing, malformed, refused or not the pinned one;
    // empty when it may go on (the origin is pinned then).
    std::string checkOrigin(const nlohmann::json& request, std::string& message);
    nlohmann::json answer(nlohmann::json& request, const std::string& type);
    // "describe" and "sign", which only the extension's own pages make.
    nlohmann::json answerSigner(nlohmann::json& request, const std::string& type);
    // Raises the pin_in_page fault for a page's call that would hand over a PIN, after wiping it.
    void refusePinFromPage(nlohmann::json& request, const std::string& type, const std::string& member);
    void reply(nlohmann::json message);
    void replyFault(const nlohmann::json& id, const std::string& code, const std::string& text);
    void sendEvent(const std::string& name, const VariantList& args);
    // Sends one message unless it is over the limit; false then (or when the write failed).
    bool send(const nlohmann::json& message);

    FactoryBasePtr factory_;
    MessagingOptions options_;
    MessageChannel channel_;
    std::string pinnedOrigin_;
    std::unique_ptr<MessagingSession> session_;
    bool outputFailed_ = false;
};

}  // namespace FB
