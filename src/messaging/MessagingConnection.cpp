#include "messaging/MessagingConnection.h"

#include <stdexcept>
#include <utility>

#include "core/UrlOrigin.h"
#include "messaging/JsonVariant.h"
#include "scripting/script_error.h"

namespace FB {

namespace {

using json = nlohmann::json;

// A request the protocol cannot serve; becomes an error reply with its code.
struct ProtocolFault : std::runtime_error {
    ProtocolFault(std::string faultCode, const std::string& text)
        : std::runtime_error(text), code(std::move(faultCode)) {}
    std::string code;
};

std::string dump(const json& message) {
    // Text that is not UTF-8 (bytes a certificate store gave) is sent with replacement characters.
    return message.dump(-1, ' ', false, json::error_handler_t::replace);
}

const std::string& textField(const json& request, const char* name) {
    auto it = request.find(name);
    if (it == request.end() || !it->is_string())
        throw ProtocolFault("malformed", std::string("The request needs the text \"") + name + "\"");
    return it->get_ref<const std::string&>();
}

VariantMap pageParams(const json& request) {
    VariantMap params;
    auto it = request.find("params");
    if (it == request.end())
        return params;
    if (!it->is_object())
        throw ProtocolFault("malformed", "\"params\" must be an object");
    for (const auto& [name, value] : it->items()) {
        if (!value.is_string())
            throw ProtocolFault("malformed", "The page parameter \"" + name + "\" must be a text");
        params.emplace(name, value.get<std::string>());
    }
    return params;
}

variant valueOf(const json& value) {
    try {
        return JsonVariant::toVariant(value);
    } catch (const std::invalid_argument& e) {
        throw ProtocolFault("malformed", e.what());
    }
}

// Overwrites a text that may hold a secret before its storage is released.
void wipe(std::string& text) {
    volatile char* p = text.data();
    for (std::size_t i = 0; i < text.size(); ++i)
        p[i] = 'X';
}

void wipeTexts(json& value) {
    if (value.is_string()) {
        wipe(value.get_ref<std::string&>());
    } else if (value.is_structured()) {
        for (auto& item : value)
            wipeTexts(item);
    }
}

bool isLoopbackHost(const std::string& host) {
    return host == "127.0.0.1" || host == "localhost" || host == "[::1]";
}

}  // namespace

MessagingConnection::MessagingConnection(FactoryBasePtr factory, MessagingOptions options, std::FILE* in,
                                         std::FILE* out)
    : factory_(std::move(factory)), options_(std::move(options)), channel_(in, out) {}

MessagingConnection::~MessagingConnection() = default;

bool MessagingConnection::originAllowed(const std::string& origin, bool allowLoopback) {
    if (origin.empty() || urlOrigin(origin) != origin)
        return false;
    if (origin.rfind("https://", 0) == 0)
        return true;
    if (!allowLoopback || origin.rfind("http://", 0) != 0)
        return false;
    std::string host = origin.substr(7);
    if (host.back() != ']') {
        if (const auto colon = host.rfind(':'); colon != std::string::npos)
            host.erase(colon);
    } else if (const auto close = host.rfind(']'); close != std::string::npos) {
        host.erase(close + 1);
    }
    return isLoopbackHost(host);
}

int MessagingConnection::run() {
    if (!send({{"type", "hello"}, {"version", options_.version}, {"protocol", options_.protocol}}))
        return 1;
    for (;;) {
        MessageChannel::Incoming incoming = channel_.read(options_.maxRequestLength);
        switch (incoming.status) {
            case MessageChannel::Incoming::Status::End:
                return 0;
            case MessageChannel::Incoming::Status::Truncated:
                replyFault(nullptr, "malformed", "The input ended inside a message");
                return 1;
            case MessageChannel::Incoming::Status::TooLarge:
                replyFault(nullptr, "too_large",
                           "A request may have at most " + std::to_string(options_.maxRequestLength) +
                               " bytes; this one had " + std::to_string(incoming.length));
                break;
            case MessageChannel::Incoming::Status::Message:
                handle(incoming.body);
                // A request may have carried a PIN.
                wipe(incoming.body);
                break;
        }
        // Events the request fired go out after its reply, as a page would see them.
        if (session_)
            session_->runPostedCalls();
        if (outputFailed_)
            return 1;
    }
}

void MessagingConnection::handle(std::string& body) {
    json request = json::parse(body, nullptr, false);
    if (request.is_discarded() || !request.is_object()) {
        replyFault(nullptr, "malformed", "The message is not a JSON object");
        return;
    }
    const auto idField = request.find("id");
    if (idField == request.end() || !idField->is_number()) {
        replyFault(nullptr, "malformed", "The request needs a number \"id\"");
        return;
    }
    const json id = *idField;
    // The PIN of a "sign" request is overwritten however the request ends.
    struct PinWipe {
        json& request;
        ~PinWipe() {
            if (auto pin = request.find("pin"); pin != request.end())
                wipeTexts(*pin);
        }
    } pinWipe{request};
    try {
        const std::string type = textField(request, "type");
        std::string message;
        if (const std::string fault = checkOrigin(request, message); !fault.empty())
            throw ProtocolFault(fault, message);
        json result = answer(request, type);
        json ok = {{"id", id}, {"ok", true}, {"result", std::move(result)}};
        reply(std::move(ok));
    } catch (const ProtocolFault& fault) {
        replyFault(id, fault.code, fault.what());
    } catch (const invalid_member& e) {
        replyFault(id, "unknown_member", e.what());
    } catch (const std::exception& e) {
        // Script errors of the object (bad arguments and the like), failures inside it, and results
        // that JSON cannot carry: the page hears the text, the connection goes on.
        replyFault(id, "script_error", e.what());
    }
}

std::string MessagingConnection::checkOrigin(const json& request, std::string& message) {
    const auto field = request.find("origin");
    if (field == request.end() || !field->is_string()) {
        message = "The request carries no page origin";
        return "bad_origin";
    }
    const std::string& origin = field->get_ref<const std::string&>();
    if (!originAllowed(origin, options_.allowLoopback)) {
        message =
            "The page origin \"" + origin + "\" is not an https origin of the form scheme://host[:port]";
        return "bad_origin";
    }
    if (pinnedOrigin_.empty()) {
        pinnedOrigin_ = origin;
    } else if (origin != pinnedOrigin_) {
        message = "This connection serves " + pinnedOrigin_ + ", not " + origin;
        return "origin_changed";
    }
    return {};
}

json MessagingConnection::answer(json& request, const std::string& type) {
    if (type == "open") {
        VariantMap params = pageParams(request);
        // The page that opened before is gone, as on a reload: its instance ends first.
        session_.reset();
        session_ = std::make_unique<MessagingSession>(
            *factory_, options_.mimeType, pinnedOrigin_, params,
            [this](const std::string& name, const VariantList& args) { sendEvent(name, args); });
        return nullptr;
    }
    if (type == "close") {
        session_.reset();
        return nullptr;
    }
    if (type == "describe" || type == "sign") {
        if (!session_)
            throw ProtocolFault("no_session", "No session: the page has to open one first");
        if (session_->signer())
            return answerSigner(request, type);
    }
    if (type != "invoke" && type != "get" && type != "set")
        throw ProtocolFault("malformed", "Unknown request type \"" + type + "\"");
    const std::string& member = textField(request, "member");
    refusePinFromPage(request, type, member);
    if (!session_)
        throw ProtocolFault("no_session", "No session: the page has to open one first");

    if (type == "invoke") {
        VariantList args;
        if (auto it = request.find("args"); it != request.end()) {
            if (!it->is_array())
                throw ProtocolFault("malformed", "\"args\" must be a list");
            args = valueOf(*it).get<VariantList>();
        }
        return JsonVariant::toJson(session_->invoke(member, args));
    }
    if (type == "get")
        return JsonVariant::toJson(session_->get(member));
    auto value = request.find("value");
    if (value == request.end())
        throw ProtocolFault("malformed", "The request needs a \"value\"");
    session_->set(member, valueOf(*value));
    return nullptr;
}

json MessagingConnection::answerSigner(json& request, const std::string& type) {
    ConfirmedSigner& signer = *session_->signer();
    const std::string& certificate = textField(request, "certificate");
    const std::string& hash = textField(request, "hash");
    if (type == "describe") {
        const auto summary = signer.describeSignature(certificate, hash);
        if (!summary)
            return nullptr;
        return {{"subject", summary->subject},     {"issuer", summary->issuer},
                {"algorithm", summary->algorithm}, {"hash", summary->hash},
                {"needsPin", summary->needsPin},   {"pinState", summary->pinState}};
    }
    std::string noPin;
    std::string* pin = &noPin;
    if (auto field = request.find("pin"); field != request.end()) {
        if (!field->is_string()) {
            wipeTexts(*field);
            throw ProtocolFault("malformed", "\"pin\" must be a text");
        }
        pin = &field->get_ref<std::string&>();
    }
    // The signer overwrites the PIN where the request holds it.
    return signer.signOnce(certificate, hash, *pin);
}

void MessagingConnection::refusePinFromPage(json& request, const std::string& type,
                                            const std::string& member) {
    bool refused = false;
    if (type == "invoke") {
        refused = options_.pinMethods.count(member) != 0;
        if (refused)
            if (auto args = request.find("args"); args != request.end())
                wipeTexts(*args);
    } else if (type == "set" && options_.pinProperties.count(member) != 0) {
        auto value = request.find("value");
        refused =
            value != request.end() && !(value->is_string() && value->get_ref<const std::string&>().empty());
        if (refused)
            wipeTexts(*value);
    }
    if (refused)
        throw ProtocolFault("pin_in_page", options_.pinRefusal);
}

void MessagingConnection::reply(json message) {
    if (session_)
        message["state"] = JsonVariant::toJson(session_->state(options_.stateMembers));
    if (send(message) || outputFailed_)
        return;
    const json id = message["id"];
    json tooLarge = {{"id", id},
                     {"ok", false},
                     {"error",
                      {{"code", "reply_too_large"},
                       {"message", "The reply would exceed the " + std::to_string(options_.maxMessageLength) +
                                       " bytes a browser accepts"}}}};
    if (auto state = message.find("state"); state != message.end())
        tooLarge["state"] = *state;
    if (!send(tooLarge) && !outputFailed_) {
        tooLarge.erase("state");
        send(tooLarge);
    }
}

void MessagingConnection::replyFault(const json& id, const std::string& code, const std::string& text) {
    reply({{"id", id}, {"ok", false}, {"error", {{"code", code}, {"message", text}}}});
}

void MessagingConnection::sendEvent(const std::string& name, const VariantList& args) {
    json event = {{"type", "event"}, {"name", name}};
    try {
        event["args"] = JsonVariant::toJson(args);
    } catch (const std::invalid_argument& e) {
        event["args"] = json::array();
        event["error"] = {{"code", "script_error"}, {"message", e.what()}};
    }
    if (send(event) || outputFailed_)
        return;
    event["args"] = json::array();
    event["error"] = {{"code", "reply_too_large"},
                      {"message", "The event's arguments were too large to send"}};
    send(event);
}

bool MessagingConnection::send(const json& message) {
    if (outputFailed_)
        return false;
    const std::string body = dump(message);
    if (body.size() > options_.maxMessageLength)
        return false;
    if (!channel_.write(body))
        outputFailed_ = true;
    return !outputFailed_;
}

}  // namespace FB
