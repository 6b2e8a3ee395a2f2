#pragma once

#include <optional>
#include <string>

namespace FB {

// What an application's scriptable object offers an adapter whose user confirms every signature in the
// browser's own window and types the PIN there, never in the page: it describes a signature before the
// user confirms it, and signs once with the PIN the user typed for it. Called on the main thread.
class ConfirmedSigner {
  public:
    struct Summary {
        std::string subject;
        std::string issuer;
        std::string algorithm;
        std::string hash;  // in hex
        bool needsPin = false;
        std::string pinState;
    };

    virtual ~ConfirmedSigner() = default;

    // Touches no key and presents no PIN. Nothing when the application refuses; its error state says why.
    virtual std::optional<Summary> describeSignature(const std::string& certificate, const std::string& hash) = 0;
    // Signs hash once with certificate's key; pin is empty for a key that needs none. pin is overwritten
    // with 'X' however the call ends, and nothing of an accepted PIN is kept afterwards. An empty result
    // is a refusal, told by the error state.
    virtual std::string signOnce(const std::string& certificate, const std::string& hash, std::string& pin) = 0;
};

}  // namespace FB
