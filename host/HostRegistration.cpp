#include "HostRegistration.h"

#include <nlohmann/json.hpp>

#include "HostSetup.h"

namespace HostRegistration {

namespace {
constexpr const char* kHostName = "eu.brindlemoor.korvane";
}

std::string manifest(Browser browser, const std::string& program) {
    const HostArguments::Allowed allowed = HostSetup::allowedCallers();
    nlohmann::ordered_json text = {
        {"name", kHostName},
        {"description", "Korvane: digital signatures with the certificates of this computer"},
        {"path", program},
        {"type", "stdio"}};
    if (browser == Browser::Chromium) {
        nlohmann::json origins = nlohmann::json::array();
        for (const auto& id : allowed.chromiumIds)
            origins.push_back("chrome-extension://" + id + "/");
        text["allowed_origins"] = origins;
    } else {
        text["allowed_extensions"] = allowed.geckoIds;
    }
    return text.dump(2) + "\n";
}

std::vector<Entry> entries() {
    const std::string tail = std::string("\\NativeMessagingHosts\\") + kHostName;
    return {{"Software\\Google\\Chrome" + tail, Browser::Chromium},
            {"Software\\Chromium" + tail, Browser::Chromium},
            {"Software\\Microsoft\\Edge" + tail, Browser::Chromium},
            {"Software\\Mozilla" + tail, Browser::Firefox}};
}

std::string manifestFileName(Browser browser) {
    return std::string(kHostName) + (browser == Browser::Chromium ? ".chromium.json" : ".firefox.json");
}

}  // namespace HostRegistration
