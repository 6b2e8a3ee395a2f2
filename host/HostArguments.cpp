#include "HostArguments.h"

namespace {
constexpr const char* kChromiumPrefix = "chrome-extension://";
}

HostArguments::HostArguments(const std::vector<std::string>& args) {
    for (const auto& arg : args) {
        if (arg == "--allow-loopback") {
            allowLoopback_ = true;
        } else if (arg == "--version") {
            printVersion_ = true;
        } else if (arg == "--register") {
            register_ = true;
        } else if (arg == "--unregister") {
            unregister_ = true;
        } else if (arg == "--machine") {
            machine_ = true;
        } else if (arg.rfind("--parent-window=", 0) == 0) {
            // Chromium on Windows: the browser window's handle, not needed here.
        } else if (arg.rfind("--", 0) == 0) {
            if (unknownOption_.empty())
                unknownOption_ = arg;
        } else {
            positional_.push_back(arg);
        }
    }
    if (positional_.size() == 1 && positional_[0].rfind(kChromiumPrefix, 0) == 0) {
        chromium_ = true;
        caller_ = positional_[0];
    } else if (positional_.size() == 2) {
        caller_ = positional_[1];
    }
}

bool HostArguments::callerAllowed(const Allowed& allowed) const {
    if (caller_.empty())
        return false;
    if (chromium_) {
        const std::string prefix = kChromiumPrefix;
        if (caller_.size() < prefix.size() + 2 || caller_.back() != '/')
            return false;
        return allowed.chromiumIds.count(caller_.substr(prefix.size(), caller_.size() - prefix.size() - 1)) ==
               1;
    }
    return allowed.geckoIds.count(caller_) == 1;
}
