#pragma once

#include <set>
#include <string>
#include <vector>

// What the browser and the installer pass to korvane-host. Chromium starts it with the caller's origin
// "chrome-extension://ID/" (on Windows also "--parent-window=N"); Firefox with the host manifest's path
// and the extension's id. Our own options start with "--".
class HostArguments {
  public:
    // Chromium extension ids and Firefox extension ids the host serves.
    struct Allowed {
        std::set<std::string> chromiumIds;
        std::set<std::string> geckoIds;
    };

    explicit HostArguments(const std::vector<std::string>& args);

    bool allowLoopback() const { return allowLoopback_; }
    bool printVersion() const { return printVersion_; }
    // --register / --unregister: the installer's steps on Windows (see HostRegistration.h).
    bool registerHost() const { return register_; }
    bool unregisterHost() const { return unregister_; }
    // --machine: with --register / --unregister, the machine's keys instead of the current user's.
    bool machine() const { return machine_; }
    // The caller, as "chrome-extension://ID/" or the gecko id; empty when the arguments name none.
    const std::string& caller() const { return caller_; }
    // Whether the arguments name exactly one caller and it is one of allowed.
    bool callerAllowed(const Allowed& allowed) const;
    // An option this program does not know, if any.
    const std::string& unknownOption() const { return unknownOption_; }

  private:
    bool allowLoopback_ = false;
    bool printVersion_ = false;
    bool register_ = false;
    bool unregister_ = false;
    bool machine_ = false;
    bool chromium_ = false;
    std::string caller_;
    std::string unknownOption_;
    std::vector<std::string> positional_;
};
