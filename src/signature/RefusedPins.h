#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <string>

#include "signature/PinEntry.h"

// The PINs each token refused, kept for the whole process: a card counts its tries per card, whichever
// certificate, origin or engine presented the PIN, so a PIN one token refused is never presented to it
// again. A token's PINs are forgotten (wiped) when it accepts a PIN or when it is no longer the same
// insertion of the card (the platform's insertion count, e.g. a slot series, changed). Whether the last PIN
// the token answered was accepted is kept with them, for the same insertion. The token's name must not
// depend on the platform's numbering, which starts again when NSS is opened afresh.
class RefusedPins {
  public:
    static RefusedPins& process();

    // True when this insertion of the token refused this very PIN.
    bool refused(const std::string& token, std::int64_t insertion, const std::string& pin);
    // The token refused this PIN.
    void remember(const std::string& token, std::int64_t insertion, const std::string& pin);
    // The token accepted a PIN: what it refused may be typed again.
    void accepted(const std::string& token, std::int64_t insertion);
    // The token said it is blocked: whatever it accepted before no longer tells its state.
    void blocked(const std::string& token, std::int64_t insertion);
    // True when the last PIN this insertion of the token answered was accepted.
    bool lastAccepted(const std::string& token, std::int64_t insertion);
    // The platform numbers its insertions afresh (NSS opened again): the next count seen for each token
    // is taken as the one it had.
    void renumbered();
    void clear();
    std::size_t size();

  private:
    struct Token {
        std::int64_t insertion = 0;
        bool renumbered = false;
        bool accepted = false;
        std::list<PinEntry> pins;  // wiped as they go
    };
    // Drops what an earlier insertion of the token refused.
    Token& current(const std::string& token, std::int64_t insertion);

    std::mutex lock_;
    std::map<std::string, Token> tokens_;
};
