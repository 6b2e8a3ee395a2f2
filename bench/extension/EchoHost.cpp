// The floor of the extension benchmark: a native-messaging host that only answers. It greets as
// korvane-host does and replies to every request at once with its id, so that a page's round trip through
// it costs the browsers' messaging and nothing of ours. It gives the version for "get version", and for the
// benchmark's signatures one certificate to list, its description and a signature-sized text of no worth;
// null otherwise.

#include <cstdint>
#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

namespace {

bool readFully(void* data, std::size_t size) {
    return size == 0 || std::fread(data, 1, size, stdin) == size;
}

void send(const nlohmann::json& message) {
    const std::string body = message.dump();
    const auto length = static_cast<std::uint32_t>(body.size());
    std::fwrite(&length, sizeof length, 1, stdout);
    std::fwrite(body.data(), 1, body.size(), stdout);
    std::fflush(stdout);
}

}  // namespace

int main() {
    send({{"type", "hello"}, {"version", KORVANE_VERSION}, {"protocol", 1}});
    for (;;) {
        std::uint32_t length = 0;
        if (!readFully(&length, sizeof length))
            return 0;
        std::string body(length, '\0');
        if (!readFully(body.data(), length))
            return 1;
        const nlohmann::json request = nlohmann::json::parse(body, nullptr, false);
        if (!request.is_object())
            continue;
        const std::string type = request.value("type", "");
        const std::string member = request.value("member", "");
        nlohmann::json result = nullptr;
        if (type == "get" && member == "version")
            result = KORVANE_VERSION;
        else if (type == "invoke" && member == "getDigitalSignatureCertificates")
            result = "1|CN=ECHO GARCIA PEREZ|echo|CN=Echo CA";
        else if (type == "describe")
            result = {{"subject", "CN=ECHO GARCIA PEREZ"}, {"issuer", "CN=Echo CA"}, {"algorithm", "SHA-256"},
                      {"hash", request.value("hash", "")}, {"needsPin", false},      {"pinState", "unknown"}};
        else if (type == "sign" || (type == "invoke" && member == "signPkcs1"))
            result = std::string(343, 'A') + "=";
        send({{"id", request.value("id", nlohmann::json())}, {"ok", true}, {"result", result}});
    }
}
